#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CleaningChoices.h"
#include "FolderContents.h"
#include "TWVolumeInfo.h"
#include "URL.h"
#include "VolumesFolders.h"
#include "XFSDiskOrDirectory.h"

// What stays the same during one walk: the user's white list and the paths of the records,
// in the store's comparison form (lower case, final "/").
struct WalkContext
{
    std::vector<std::string> whiteList;
    std::vector<std::string> recordPaths;

    static WalkContext current();
    // For each record path, whether it begins the folder's path.
    std::vector<bool> recordsGoverning(const std::string &comparablePath) const;
};

// What a walk knows about the volume of the folders it visits: read where the walk enters
// the volume and shared by every folder below it down to the next mount point.
struct WalkVolume
{
    // The volume could not be examined, is hidden or is mounted read-only.
    bool unusable = true;
    std::optional<TWVolumeInfo> info;
    VolumeLocation location;
    // Where the volume is mounted, as the deletion statistics name it.
    std::optional<URL> mountPoint;
    // Whether it keeps `user.` attributes itself; asked the first time a folder needs to know.
    std::optional<bool> keepsAttributes;
    // The store's record of the first folder looked up on this volume, and which record paths
    // begin that folder's path: another folder begun by the same ones has the same record.
    bool recordKnown = false;
    std::shared_ptr<const CleaningChoices> record;
    std::vector<bool> recordsGoverningRecord;

    static std::shared_ptr<WalkVolume> read(const std::string &path);
};

// A path as the store compares record paths: lower case, with a final "/".
std::string comparableRecordPath(const std::string &path);
