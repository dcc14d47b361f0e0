#pragma once

#include <cstdint>
#include <string>

#include "TallowExport.h"
#include "Value.h"

// Grants to reach a folder or file, kept as bookmark data in the user defaults. Linux has no
// sandbox: a bookmark records the item's absolute path, and access is granted wherever the
// user can read the item. The data is a small versioned record: the magic "TWBM", a version
// byte, the path's length (32-bit big-endian) and the path's UTF-8 bytes.
class TALLOW_EXPORT SecurityScopedBookmark
{
public:
    // Creation and resolution options, with the values the stored settings expect.
    static constexpr std::uint64_t creationWithSecurityScope = 2048;
    static constexpr std::uint64_t resolutionWithoutUI = 0x100;
    static constexpr std::uint64_t resolutionWithoutMounting = 0x200;
    static constexpr std::uint64_t resolutionWithSecurityScope = 0x400;
    static constexpr std::uint64_t scopedResolutionOptions =
        resolutionWithoutUI | resolutionWithoutMounting | resolutionWithSecurityScope;

    static constexpr std::uint8_t currentVersion = 1;
    // A path longer than this is no path of this system.
    static constexpr std::uint32_t maximumPathLength = 4096;

    // The bookmark of an absolute path to an existing item; throws Error (POSIX domain)
    // when the path is relative or nothing is there.
    static Data bookmarkData(const std::string &path, std::uint64_t options);
    // The path the bookmark names; throws Error for data that is damaged, of another version,
    // or names an item that is no longer there (nothing is mounted to find it).
    static std::string resolve(const Data &bookmark, std::uint64_t options);

    // Opens access to the item: true when it can be read (and, for a folder, listed).
    // Each successful start is counted until a stop ends it.
    static bool startAccessing(const std::string &path);
    // Ends one access started for the path; nothing when none is open.
    static void stopAccessing(const std::string &path);
    // The accesses open for the path now.
    static int openAccessCount(const std::string &path);
};
