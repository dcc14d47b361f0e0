#pragma once

#include <string>

// Whether the folder is the root of a mounted file system; a symbolic link never is. Where
// the kernel cannot say, true, so that callers go on to ask the mount table.
bool isMountRoot(const std::string &path);
// The same for the entry `name` of the open folder `folderFd`.
bool isMountRootAt(int folderFd, const std::string &name);
// The same for the open folder itself.
bool isMountRootFd(int folderFd);
