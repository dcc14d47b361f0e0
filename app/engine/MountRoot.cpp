#include "MountRoot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace
{
bool isMountRootStatx(int folderFd, const char *name, int flags)
{
    struct statx status;
    if (statx(folderFd, name, flags | AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &status) != 0)
        return false;
    if (!(status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return true;
    return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}
}

bool isMountRoot(const std::string &path)
{
    return isMountRootAt(AT_FDCWD, path);
}

bool isMountRootAt(int folderFd, const std::string &name)
{
    return isMountRootStatx(folderFd, name.c_str(), 0);
}

bool isMountRootFd(int folderFd)
{
    return isMountRootStatx(folderFd, "", AT_EMPTY_PATH);
}

std::optional<FolderMount> folderMountFd(int folderFd)
{
    struct statx status;
    if (statx(folderFd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID, &status)
        != 0)
        return std::nullopt;
    FolderMount mount;
    mount.mount = (status.stx_mask & STATX_MNT_ID) ? status.stx_mnt_id
                                                    : makedev(status.stx_dev_major, status.stx_dev_minor);
    if (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        mount.isMountRoot = (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return mount;
}
