#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "TallowExport.h"

struct MountEntry;

// What the system knows about one mounted volume. Read-only state and size are read afresh on
// each request; what follows from the mount alone is kept until the mount table changes.
struct TALLOW_EXPORT VolumeFacts
{
    // The volume's URL.
    std::string mountPoint;
    // The translated type name ("msdos", "hfs", "ext4").
    std::string fileSystemType;
    // The type as the kernel names it ("vfat", "fuseblk").
    std::string kernelFileSystemType;
    // The mounted-from name: a device, "host:/export", "//server/share" or a pseudo name.
    std::string source;
    bool isLocal = true;
    bool isReadOnly = false;
    // The unit of blockCount (statvfs f_frsize).
    std::uint32_t blockSize = 0;
    std::uint64_t blockCount = 0;
    bool hasNativeExtendedAttributes = false;
    // The file-system label, else the mount point's last component ("/" for the root).
    std::string name;
    std::string localizedName;
    bool isHidden = false;
    std::string localizedFormatDescription;

    // The volume holding the path (a final symbolic link is resolved, as statfs does);
    // nullopt when the path does not exist or the volume cannot be examined.
    static std::optional<VolumeFacts> forPath(const std::string &path);
    static std::optional<VolumeFacts> forMount(const MountEntry &mount);

    // Whether the folder's file system keeps `user.` extended attributes itself.
    static bool probeNativeExtendedAttributes(const std::string &folder);
    // The label under /dev/disk/by-label whose link leads to the source device.
    static std::optional<std::string> labelForSource(const std::string &source);
    // Mounts that a user never sees as disks: system and pseudo file systems, dot names.
    static bool isHiddenMount(const std::string &mountPoint, const std::string &kernelType, const std::string &name);
};
