#include "URLValues.h"

#include "URL.h"

const char *platformResourceKey(URLValues key)
{
    switch (key) {
    case URLValues::customIconKey:
        return "NSURLCustomIconKey";
    case URLValues::effectiveIconKey:
        return "NSURLEffectiveIconKey";
    case URLValues::isDirectoryKey:
        return "NSURLIsDirectoryKey";
    case URLValues::isHiddenKey:
        return "NSURLIsHiddenKey";
    case URLValues::isPackageKey:
        return "NSURLIsPackageKey";
    case URLValues::isVolumeKey:
        return "NSURLIsVolumeKey";
    case URLValues::isWritableKey:
        return "NSURLIsWritableKey";
    case URLValues::localizedNameKey:
        return "NSURLLocalizedNameKey";
    case URLValues::parentDirectoryURLKey:
        return "NSURLParentDirectoryURLKey";
    case URLValues::volumeIsLocalKey:
        return "NSURLVolumeIsLocalKey";
    case URLValues::volumeIsReadOnlyKey:
        return "NSURLVolumeIsReadOnlyKey";
    case URLValues::volumeLocalizedFormatDescriptionKey:
        return "NSURLVolumeLocalizedFormatDescriptionKey";
    case URLValues::volumeURLKey:
        return "NSURLVolumeURLKey";
    }
    return "";
}

std::optional<URLResourceValue> get(URLValues key, const URLResourceValues &values)
{
    const auto it = values.find(key);
    if (it == values.end())
        return std::nullopt;
    return it->second;
}
