#pragma once

#include <optional>
#include <string>

#include "TallowExport.h"

// The path with every symbolic link, "." and ".." resolved, as realpath(3) gives it; nullopt
// when the item cannot be reached. The kernel names the item it opened, so a deep path costs
// one lookup, where realpath reads each of its components as a possible link.
TALLOW_EXPORT std::optional<std::string> physicalPath(const std::string &path);

// The path the kernel names for an open item; nullopt without /proc, for an item outside this
// process's root, or for one removed meanwhile.
TALLOW_EXPORT std::optional<std::string> physicalPathOfDescriptor(int descriptor);
