#include "VolumeFactsSource.h"

#include <mutex>

namespace
{
std::mutex &sourceMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const VolumeFactsSource> &installedSource()
{
    static std::shared_ptr<const VolumeFactsSource> source;
    return source;
}
}

VolumeFactsSource::~VolumeFactsSource() = default;

std::shared_ptr<const VolumeFactsSource> VolumeFactsSource::current()
{
    static const std::shared_ptr<const VolumeFactsSource> system = std::make_shared<SystemVolumeFactsSource>();
    std::lock_guard lock(sourceMutex());
    return installedSource() ? installedSource() : system;
}

void VolumeFactsSource::setCurrentForTesting(std::shared_ptr<const VolumeFactsSource> source)
{
    std::lock_guard lock(sourceMutex());
    installedSource() = std::move(source);
}

std::optional<VolumeFacts> SystemVolumeFactsSource::factsForPath(const std::string &path) const
{
    return VolumeFacts::forPath(path);
}

bool SystemVolumeFactsSource::probeNativeExtendedAttributes(const std::string &mountPoint) const
{
    return VolumeFacts::probeNativeExtendedAttributes(mountPoint);
}

VolumeLocation SystemVolumeFactsSource::locate(const std::string &path) const
{
    return VolumesFolders::locate(path);
}
