#include "XEngine.h"

#include <array>
#include <fnmatch.h>
#include <string_view>

#include "Logger.h"
#include "PackageExtensions.h"
#include "TarnwickStore.h"
#include "VolumeFactsSource.h"
#include "WalkVolume.h"
#include "XTWStore.h"

namespace
{
// Paths no clean touches. An entry beginning with "*" matches anywhere in the
// volume-relative path; any other entry matches its beginning.
constexpr std::array<std::string_view, 19> ignoreList{
    "/dev/",
    "/Library/Caches/",
    "/net/",
    "/Network",
    "/private/",
    "/System/",
    "*.app/",
    "*.framework/",
    "*.hg/",
    "*.mpkg/",
    "*.pkg/",
    "*/.Spotlight-V100/",
    "*/.TemporaryItems/",
    "*/.Trashes/",
    "*/(A Document Being Saved By ",
    "*.backupdb/",
    "*/Library/Application Support/",
    "*/Library/Caches/",
    "*/Library/Containers/",
};

// Volumes of the system's own that are never cleaned, named as they appear in a volumes folder.
constexpr std::array<std::string_view, 3> ignoredVolumeNames{
    "firmwaresyncd",
    "EFI",
    "com.apple.TimeMachine.localsnapshots",
};

constexpr int whiteListMatchFlags = FNM_NOESCAPE | FNM_PATHNAME | FNM_LEADING_DIR;

bool matchesIgnoreEntry(std::string_view entry, const std::string &relativePath)
{
    if (entry.starts_with('*'))
        return relativePath.find(entry.substr(1)) != std::string::npos;
    return relativePath.starts_with(entry);
}

void logWhenDetailed(const std::string &message)
{
    if (TarnwickStore::sharedInstance().detailedLoggingEnabled())
        Logger::shared().log(message);
}

bool matchesWhiteList(const std::string &path, const std::vector<std::string> &whiteList)
{
    for (const std::string &pattern : whiteList) {
        if (fnmatch(pattern.c_str(), path.c_str(), whiteListMatchFlags) == 0)
            return true;
    }
    return false;
}

// The path as seen from its volume's root: a path on a disk in a volumes folder loses the
// folder and the disk's name; any other path stays as it is.
std::string volumeRelativePath(const std::string &path, const VolumeLocation &location)
{
    if (location.isStartupDisk)
        return path;
    const std::string volumeRoot = location.prefix + location.name;
    if (!path.starts_with(volumeRoot))
        return path;
    const std::string rest = path.substr(volumeRoot.size());
    return rest.empty() ? "/" : rest;
}

}

bool XEngine::shouldIgnoreVolume(const URL &url, std::optional<TWVolumeInfo> &volumeInfo)
{
    const std::optional<VolumeFacts> volume = VolumeFactsSource::current()->factsForPath(url.path());
    if (!volume || volume->isHidden || volume->isReadOnly)
        return true;
    if (url.value<bool>(URLValues::isPackageKey).value_or(true))
        return true;

    TWVolumeInfo info;
    if (CFUGetVolumeInfo(url.path(), &info) != 0)
        return false;
    volumeInfo = info;
    if (info.tarnwShouldIgnore())
        return true;
    if (info.fsCheckIgnoreList())
        return isInIgnoreList(url);
    return isInWhiteList(url.path());
}

bool XEngine::shouldIgnoreVolume(const URL &url, bool listedAsDirectory, const WalkVolume &volume,
                                 const WalkContext &context, std::optional<TWVolumeInfo> &volumeInfo)
{
    if (volume.unusable)
        return true;
    const bool isPackage = listedAsDirectory ? PackageExtensions::hasPackageExtension(url.lastPathComponent())
                                             : url.value<bool>(URLValues::isPackageKey).value_or(true);
    if (isPackage)
        return true;
    if (!volume.info)
        return false;
    volumeInfo = volume.info;
    if (volume.info->tarnwShouldIgnore())
        return true;
    if (volume.info->fsCheckIgnoreList())
        return isInIgnoreList(url, true, volume.location, context.whiteList);
    if (!matchesWhiteList(url.path(), context.whiteList))
        return false;
    logWhenDetailed("Path is in whitelist:" + url.path());
    return true;
}

bool XEngine::isInIgnoreList(const URL &url)
{
    return isInIgnoreList(url, url.value<bool>(URLValues::isDirectoryKey).value_or(false),
                          VolumeFactsSource::current()->locate(url.path()), XTWStore::whiteList());
}

bool XEngine::isInIgnoreList(const URL &url, bool isDirectory, const VolumeLocation &location,
                             const std::vector<std::string> &whiteList)
{
    const std::string &path = url.path();
    if (!location.prefix.empty()) {
        for (std::string_view name : ignoredVolumeNames) {
            if (path.starts_with(location.prefix + std::string(name)))
                return true;
        }
    }

    std::string withSlash = path;
    if (!withSlash.ends_with('/') && isDirectory)
        withSlash.push_back('/');

    const std::string relativePath = volumeRelativePath(withSlash, location);
    for (std::string_view entry : ignoreList) {
        if (matchesIgnoreEntry(entry, relativePath)) {
            logWhenDetailed("Path is in ignorelist:" + relativePath);
            return true;
        }
    }

    if (matchesWhiteList(withSlash, whiteList)) {
        logWhenDetailed("Path is in whitelist:" + withSlash);
        return true;
    }
    return false;
}

bool XEngine::isInWhiteList(const std::string &path)
{
    if (!matchesWhiteList(path, XTWStore::whiteList()))
        return false;
    logWhenDetailed("Path is in whitelist:" + path);
    return true;
}
