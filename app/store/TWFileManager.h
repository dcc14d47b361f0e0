#pragma once

#include <optional>
#include <string>

// The file manager's volume questions.
class TWFileManager
{
public:
    // The path's volume is in one of the platform's own disk formats; false without facts.
    static bool isHFSVolume(const std::string &path);
    // The path names a volume's root in a volumes folder ("/media/me/Data", not ".../Data/").
    static bool isPathToADisk(const std::string &path);
    // The program runs from a read-only, local volume named like the application.
    static bool isRunningFromDiskImage();
    // The start-up disk's name; nullopt when it cannot be had.
    static std::optional<std::string> startupDiskDisplayNameIfPossible();
};
