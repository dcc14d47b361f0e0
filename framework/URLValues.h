#pragma once

#include <QIcon>

#include <map>
#include <optional>
#include <string>
#include <variant>

#include "TallowExport.h"

class URL;

// The resource values the framework reads from a file URL, in this order.
enum class URLValues {
    customIconKey,
    effectiveIconKey,
    isDirectoryKey,
    isHiddenKey,
    isPackageKey,
    isVolumeKey,
    isWritableKey,
    localizedNameKey,
    parentDirectoryURLKey,
    volumeIsLocalKey,
    volumeIsReadOnlyKey,
    volumeLocalizedFormatDescriptionKey,
    volumeURLKey,
};

// One fetched value: Boolean keys give bool, name keys std::string, URL keys URL, icon keys QIcon.
using URLResourceValue = std::variant<bool, std::string, URL, QIcon>;
using URLResourceValues = std::map<URLValues, URLResourceValue>;

// The platform resource key the case stands for ("NSURLIsDirectoryKey").
TALLOW_EXPORT const char *platformResourceKey(URLValues key);

// The member of already fetched values that the case names; nullopt when absent.
TALLOW_EXPORT std::optional<URLResourceValue> get(URLValues key, const URLResourceValues &values);
