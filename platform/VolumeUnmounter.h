#pragma once

#include <string>

#include "TallowExport.h"

// Unmounts the volume mounted at a folder and, where the desktop's disk service can, powers
// off its drive: udisksctl when it is installed and the volume has a device, else umount2.
class TALLOW_EXPORT VolumeUnmounter
{
public:
    // True when the volume is no longer mounted there; false when the path is no mount point
    // or the unmount was refused. A drive that will not power off still counts as unmounted.
    static bool unmountAndEjectDeviceAtPath(const std::string &path);
};
