#include "PackageExtensions.h"

#include <array>
#include <sys/stat.h>

#include "FolderAndName.h"

namespace
{
// Lower case; compared without regard to case.
constexpr std::array<std::string_view, 50> packageExtensions{
    // Applications, their extensions and system bundles.
    "app", "appex", "bundle", "framework", "plugin", "kext", "dext", "systemextension", "xpc",
    "qlgenerator", "mdimporter", "prefpane", "saver", "wdgt", "action", "workflow", "component",
    "colorpicker", "scptd", "dsym", "vst", "vst3", "mailbundle", "docset", "download",
    // Installer packages and documents.
    "pkg", "mpkg", "rtfd", "pages", "numbers", "key", "playground", "sparsebundle",
    // Developer documents.
    "xcodeproj", "xcworkspace", "xcarchive", "xcplugin",
    // Libraries and projects of Apple's media applications.
    "photoslibrary", "photolibrary", "migratedphotolibrary", "aplibrary", "fcpbundle", "fpbf",
    "imovielibrary", "theater", "tvlibrary", "musiclibrary", "logicx", "band", "garageband",
};

bool equalsIgnoringCase(std::string_view a, std::string_view lowerCase)
{
    if (a.size() != lowerCase.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char c = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (c != lowerCase[i])
            return false;
    }
    return true;
}
}

bool PackageExtensions::hasPackageExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return false;
    const std::string_view extension = name.substr(dot + 1);
    for (const std::string_view candidate : packageExtensions) {
        if (equalsIgnoringCase(extension, candidate))
            return true;
    }
    return false;
}

bool PackageExtensions::isPackage(const std::string &path)
{
    // A final slash would make lstat follow a link.
    const std::string itemPath(FolderAndName::trimmed(path));
    struct stat status;
    if (lstat(itemPath.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    return hasPackageExtension(FolderAndName::nameOf(itemPath));
}
