#pragma once

#include <string>
#include <vector>

#include "TallowExport.h"

class MountTable;

// The volume a path lies on, as the rest of the system names it.
struct TALLOW_EXPORT VolumeLocation
{
    // The volumes folder part to strip or build ("/media/me/"); empty on the start-up disk.
    std::string prefix;
    // The volume's name: the mount point's last component, or "/" on the start-up disk.
    std::string name;
    // The mount holding the path when it exists; for a missing path the volume's
    // would-be mount point (prefix + name), or "/" on the start-up disk.
    std::string mountPoint;
    bool isStartupDisk = true;

    bool operator==(const VolumeLocation &) const = default;
};

// The folders under which removable disks and shares are mounted (the place of macOS's
// /Volumes/): /run/media/USER/, /media/USER/, /media/, /mnt/ and /Volumes/.
class TALLOW_EXPORT VolumesFolders
{
public:
    // Most specific first, each with a final "/"; includes the folders tests registered.
    static std::vector<std::string> folders();
    static void registerFolderForTesting(const std::string &folder);
    static void unregisterFolderForTesting(const std::string &folder);

    // An existing path is placed by its mount; a missing one by its name alone.
    static VolumeLocation locate(const std::string &path);
    static VolumeLocation locate(const std::string &path, const MountTable &table);
    // The name rule: the component right after the most specific volumes folder that begins the path.
    static VolumeLocation locateByName(const std::string &path);
};
