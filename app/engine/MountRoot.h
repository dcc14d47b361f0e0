#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Whether the folder is the root of a mounted file system; a symbolic link never is. Where
// the kernel cannot say, true, so that callers go on to ask the mount table.
bool isMountRoot(const std::string &path);
// The same for the entry `name` of the open folder `folderFd`.
bool isMountRootAt(int folderFd, const std::string &name);
// The same for the open folder itself.
bool isMountRootFd(int folderFd);

// Where an open folder lies: its mount (the kernel's mount id, or the device where the kernel
// gives no id) and whether the folder is that mount's root (true where the kernel cannot say).
// Nothing when the folder cannot be examined.
struct FolderMount
{
    std::uint64_t mount = 0;
    bool isMountRoot = true;
};
std::optional<FolderMount> folderMountFd(int folderFd);
