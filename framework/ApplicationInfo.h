#pragma once

#include <cstdint>
#include <string>

#include "TallowExport.h"

// The application's version texts from the main bundle's Info dictionary.
class TALLOW_EXPORT Application
{
public:
    // "CFBundleVersion" read as a whole decimal integer with an optional "-": 0 when the key is
    // missing, not a string, or holds anything else ("12abc", "1.2", "", a number too large).
    static std::int64_t bundleVersion();
    // "CFBundleShortVersionString"; empty when missing or not a string.
    static std::string bundleVersionShort();
    // "NSHumanReadableCopyright"; empty when missing or not a string.
    static std::string bundleCopyright();
};
