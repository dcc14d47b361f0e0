#pragma once

#include <string>

#include "TallowExport.h"

// Removal of files and whole folders that never follows a symbolic link and never leaves
// the file system of the item removed. Every step works relative to an open directory,
// so a link swapped in during the removal is removed, not followed.
class TALLOW_EXPORT FileOperations
{
public:
    // Removes the item at the path; a folder goes with everything in it. Removes all it can
    // and then throws the first failure as an Error in the POSIX domain. A folder on another
    // file system found inside (a mount point) is left with its contents (EBUSY).
    static void removeItem(const std::string &path);
    // The same for the entry `name` of the open directory `directoryFd`.
    static void removeItemAt(int directoryFd, const std::string &name);
    // removeItem, answering whether the item is gone.
    static bool removeItemNoThrow(const std::string &path);
};
