#include "DirectoryIterator.h"

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "DirectoryRecords.h"

namespace
{
constexpr std::size_t initialCapacity = 128;

// Whether the directory's entry is the root of another mount (a bind mount too).
bool isMountPoint(int directoryFd, dev_t directoryDevice, const std::string &name)
{
    struct statx extended;
    if (statx(directoryFd, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, 0, &extended) != 0)
        return false;
    if (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        return extended.stx_attributes & STATX_ATTR_MOUNT_ROOT;
    return makedev(extended.stx_dev_major, extended.stx_dev_minor) != directoryDevice;
}
}

DirectoryIterator::DirectoryIterator()
    : m_attrBuffer(new std::uint8_t[attrBufferSize])
{
}

std::vector<FSItemAndAttrs> DirectoryIterator::contentsOfDirectoryAtPath(const std::string &path)
{
    const FileDescriptor directory = DirectoryRecords::openDirectory(path);
    if (!directory.isValid()) {
        std::vector<FSItemAndAttrs> items;
        items.reserve(initialCapacity);
        return items;
    }
    return contentsOfDirectoryAt(directory.get(), path);
}

std::vector<FSItemAndAttrs> DirectoryIterator::contentsOfDirectoryAt(int directoryFd, const std::string &path)
{
    std::vector<FSItemAndAttrs> items;
    items.reserve(initialCapacity);
    struct stat directoryStatus;
    if (fstat(directoryFd, &directoryStatus) != 0 || lseek(directoryFd, 0, SEEK_SET) != 0)
        return items;

    const int error = DirectoryRecords::read(directoryFd, m_attrBuffer.get(), attrBufferSize,
                                             [&](std::string_view name, unsigned char type) {
                                                 std::string entryName(name);
                                                 const bool isDirectory = type == DT_DIR;
                                                 if (isDirectory && isMountPoint(directoryFd, directoryStatus.st_dev, entryName))
                                                     return;
                                                 items.push_back(FSItemAndAttrs::forEntry(path, std::move(entryName), isDirectory));
                                             });
    if (error != 0) {
        std::printf("error: %d\n", error);
        std::fflush(stdout);
    }
    return items;
}
