#pragma once

#include <optional>
#include <string>

#include "FileIdentity.h"
#include "TallowExport.h"

// A folder kept clean in the background, known by its resolved path and, from the moment it is
// watched, by its device and inode. A path can come to name another folder without any link (a
// folder above it renamed, another folder moved in): a clean that reaches the path checks that
// the folder it opened is still the one watched, and cleans nothing through the path otherwise.
struct TALLOW_EXPORT WatchedRoot
{
    // Why nothing is cleaned through a root's path that names another folder now.
    static constexpr const char *movedOrReplacedReason = "the folder kept clean there was moved or replaced";

    std::string path;
    FileIdentity identity;

    bool operator==(const WatchedRoot &) const = default;

    // The folder at the absolute, resolved path now, reached without following a link anywhere
    // on the way; nothing (errno set) when it cannot be reached so.
    static std::optional<WatchedRoot> at(const std::string &path);
};
