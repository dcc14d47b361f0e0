#pragma once

#include <optional>
#include <string>
#include <vector>

#include "FileIdentity.h"
#include "WatchedRoot.h"

// The folders the background watcher keeps clean, each known by the identity it was watched
// with (also one whose folder has moved away from its path since). A scheduled clean of a
// record's folder checks the folder it opens against it, so that another folder put at the
// path is never cleaned as the one kept. Any thread.
class KeptFolders
{
public:
    static void replace(const std::vector<WatchedRoot> &folders);
    static std::optional<FileIdentity> identityOf(const std::string &path);
};
