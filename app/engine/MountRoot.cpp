#include "MountRoot.h"

#include <fcntl.h>
#include <sys/stat.h>

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
