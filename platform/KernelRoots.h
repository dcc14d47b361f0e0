#pragma once

#include <string>

#include "TallowExport.h"

// The folders where the kernel's views are read: /proc (processes) and /sys
// (devices). Tests point them at folders they build.
class TALLOW_EXPORT KernelRoots
{
public:
    static std::string procRoot();
    static std::string sysRoot();

    // An empty string restores the real folder.
    static void setProcRootForTesting(const std::string &path);
    static void setSysRootForTesting(const std::string &path);
};
