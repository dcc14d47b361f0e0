#pragma once

#include <memory>
#include <optional>
#include <string>

#include "VolumeFacts.h"
#include "VolumesFolders.h"

// Where the store and the engine get every fact about volumes: the mount table, the
// statfs record and the extended-attribute probe. Tests replace it with a scripted system.
class VolumeFactsSource
{
public:
    virtual ~VolumeFactsSource();

    // The facts of the volume holding the path; nullopt when the path cannot be examined
    // (a missing path, no permission), as when statfs fails.
    virtual std::optional<VolumeFacts> factsForPath(const std::string &path) const = 0;
    // Whether the file system mounted at the folder keeps extended attributes itself.
    virtual bool probeNativeExtendedAttributes(const std::string &mountPoint) const = 0;
    // The volume's prefix and name for a path (mount table for existing paths, else the name rule).
    virtual VolumeLocation locate(const std::string &path) const = 0;

    static std::shared_ptr<const VolumeFactsSource> current();
    // Replaces the process-wide source; nullptr restores the running system's.
    static void setCurrentForTesting(std::shared_ptr<const VolumeFactsSource> source);
};

// The running system: /proc/self/mountinfo, statvfs and getxattr.
class SystemVolumeFactsSource : public VolumeFactsSource
{
public:
    std::optional<VolumeFacts> factsForPath(const std::string &path) const override;
    bool probeNativeExtendedAttributes(const std::string &mountPoint) const override;
    VolumeLocation locate(const std::string &path) const override;
};
