#pragma once

#include <functional>
#include <string>

#include "TallowExport.h"

class QObject;

// Unmounts the volume mounted at a folder and, where the desktop's disk service can, powers
// off its drive: udisksctl when it is installed and the volume has a device, else umount2.
// Before every unmount Tarnwick performs, the registered approval callback (if any) runs on
// its own thread; the unmount then goes ahead whatever the callback did.
class TALLOW_EXPORT VolumeUnmounter
{
public:
    using ApprovalCallback = std::function<void(const std::string &mountPoint)>;
    using Completion = std::function<void(bool unmounted)>;

    // The one approval callback, run on the thread of `context` (which must run a Qt event
    // loop). A new registration replaces the former one.
    static void setApprovalCallback(QObject *context, ApprovalCallback callback);
    // Removes the callback if it is still the one registered with this context.
    static void clearApprovalCallback(QObject *context);

    // Approves, then unmounts on a worker thread; the completion runs on the main thread with
    // the answer of unmountAndEjectDeviceAtPath. The caller never waits.
    static void unmountAndEjectDeviceAtPathAsync(const std::string &path, Completion completion);
    // The same, waiting for the approval and the unmount; never on the main thread nor on the
    // approval callback's own thread.
    // True when the volume is no longer mounted there; false when the path is no mount point
    // or the unmount was refused (a volume still busy after a few seconds of trying again).
    // A drive that will not power off still counts as unmounted.
    static bool unmountAndEjectDeviceAtPath(const std::string &path);
};
