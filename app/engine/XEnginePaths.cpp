#include "XEngine.h"

#include "PackageExtensions.h"
#include "PathLists.h"
#include "VolumeFactsSource.h"
#include "WalkVolume.h"
#include "XTWStore.h"

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

std::optional<bool> XEngine::volumeDecides(const URL &url, bool listedAsDirectory, const WalkVolume &volume,
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
    return std::nullopt;
}

bool XEngine::shouldIgnoreVolume(const URL &url, bool listedAsDirectory, const WalkVolume &volume,
                                 const WalkContext &context, std::optional<TWVolumeInfo> &volumeInfo)
{
    if (const std::optional<bool> decided = volumeDecides(url, listedAsDirectory, volume, volumeInfo))
        return *decided;
    if (volume.info->fsCheckIgnoreList())
        return isInIgnoreList(url, true, volume.location, context.whiteList);
    return PathLists::isInWhiteList(url.path(), context.whiteList);
}

bool XEngine::shouldIgnoreVolume(const URL &url, bool listedAsDirectory, const WalkVolume &volume,
                                 const PathLists &lists, const PathLists::Progress &listsProgress,
                                 std::optional<TWVolumeInfo> &volumeInfo)
{
    if (const std::optional<bool> decided = volumeDecides(url, listedAsDirectory, volume, volumeInfo))
        return *decided;
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
    return PathLists::isInWhiteList(path, XTWStore::whiteList());
}
