#include "TWFileManager.h"

#include <QCoreApplication>

#include "TWVolumeInfo.h"
#include "VolumeFactsSource.h"

bool TWFileManager::isHFSVolume(const std::string &path)
{
    TWVolumeInfo info;
    return CFUGetVolumeInfo(path, &info) == 0 && info.isMacDisk();
}

bool TWFileManager::isPathToADisk(const std::string &path)
{
    const VolumeLocation location = VolumeFactsSource::current()->locate(path);
    // Only the leading volumes folder is taken away: a folder of that name deeper inside a
    // disk is part of the path.
    std::string rest = path;
    if (!location.prefix.empty() && rest.compare(0, location.prefix.size(), location.prefix) == 0)
        rest.erase(0, location.prefix.size());
    return !rest.empty() && rest.find('/') == std::string::npos;
}

bool TWFileManager::isRunningFromDiskImage()
{
    const std::string executable = QCoreApplication::applicationFilePath().toStdString();
    if (executable.empty())
        return false;
    const std::optional<VolumeFacts> facts = VolumeFactsSource::current()->factsForPath(executable);
    if (!facts)
        return false;
    return facts->localizedName == QCoreApplication::applicationName().toStdString() && facts->isReadOnly
           && facts->isLocal;
}

std::optional<std::string> TWFileManager::startupDiskDisplayNameIfPossible()
{
    const std::optional<VolumeFacts> facts = VolumeFactsSource::current()->factsForPath("/");
    if (!facts)
        return std::nullopt;
    return facts->localizedName;
}
