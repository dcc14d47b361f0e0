#pragma once

#include <string>
#include <string_view>

#include "TallowExport.h"

// Folders that macOS shows as single documents or bundles (applications, plug-ins,
// project and library documents); walks treat them as one item and do not enter them.
class TALLOW_EXPORT PackageExtensions
{
public:
    // The name's extension (after its last dot, not a leading one) is a package extension, in any case.
    static bool hasPackageExtension(std::string_view name);
    // A directory itself (a symbolic link is never a package) with a package extension.
    static bool isPackage(const std::string &path);
};
