#pragma once

#include <string>

#include "TallowExport.h"

// The folders where device facts are read: /dev (device nodes, /dev/disk/by-label) and
// udev's run-time database. Tests point them at folders they build.
class TALLOW_EXPORT DeviceRoots
{
public:
    static std::string devRoot();
    static std::string udevRoot();

    // An empty string restores the real folder.
    static void setDevRootForTesting(const std::string &path);
    static void setUdevRootForTesting(const std::string &path);

    // A path under /dev mapped into the device root; other paths unchanged.
    static std::string mapDevicePath(const std::string &path);
};
