#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TallowExport.h"

// An optical drive as the kernel lists it, with the processes writing to it.
struct OpticalDrive
{
    std::string name;                      // the kernel's name, "sr0"
    std::string devicePath;                // its node under the /dev root
    std::vector<std::string> genericPaths; // the SCSI generic nodes of the same drive
    std::string vendor;
    std::string model;
    // Processes that hold one of its nodes open for writing or run a burner on it.
    std::vector<int> writers;
    // The same, virtual machines left out.
    std::vector<int> writersOutsideVirtualMachines;
};

// What the optical drives are doing at one moment.
struct DiscActivity
{
    std::vector<OpticalDrive> drives;
    bool virtualMachineRunning = false;
};

// Optical drives from the /sys root and their use from the /proc root.
class TALLOW_EXPORT OpticalDrives
{
public:
    // The drives (sr*) in number order, without looking at processes.
    static std::vector<OpticalDrive> listDrives();
    // The drives with their writers, and whether a virtual machine runs: one pass over the processes.
    static DiscActivity scan();

    // qemu-system-*, VirtualBoxVM, VBoxHeadless, vmware-vmx.
    static bool isVirtualMachineName(const std::string &processName);
    // cdrecord, wodim, growisofs, xorriso, cdrskin.
    static bool isBurnerName(const std::string &processName);
    // The open flags of a /proc fdinfo text (its "flags:" line, octal); nothing when absent or unreadable.
    static std::optional<int> openFlagsFromFdinfo(const std::string &text);
};
