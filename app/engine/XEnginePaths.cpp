#include "XEngine.h"

#include "Logger.h"
#include "PackageExtensions.h"
#include "PathLists.h"
#include "TarnwickStore.h"
#include "VolumeFactsSource.h"
#include "WalkVolume.h"
#include "XTWStore.h"

namespace
{
void logWhenDetailed(const std::string &message)
{
    if (TarnwickStore::sharedInstance().detailedLoggingEnabled())
        Logger::shared().log(message);
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
                                 const PathLists &lists, const PathLists::Progress &listsProgress,
                                 std::optional<TWVolumeInfo> &volumeInfo)
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
        return lists.isInIgnoreList(url.path(), listsProgress, volume.location);
    return lists.isInWhiteList(url.path(), listsProgress);
}

bool XEngine::isInIgnoreList(const URL &url)
{
    return isInIgnoreList(url, url.value<bool>(URLValues::isDirectoryKey).value_or(false),
                          VolumeFactsSource::current()->locate(url.path()), XTWStore::whiteList());
}

bool XEngine::isInIgnoreList(const URL &url, bool isDirectory, const VolumeLocation &location,
                             const std::vector<std::string> &whiteList)
{
    return PathLists::isInIgnoreList(url.path(), isDirectory, location, whiteList);
}

bool XEngine::isInWhiteList(const std::string &path)
{
    if (!PathLists::matchesWhiteList(path, XTWStore::whiteList()))
        return false;
    logWhenDetailed("Path is in whitelist:" + path);
    return true;
}
