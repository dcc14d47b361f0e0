#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TallowExport.h"
#include "Value.h"

// The AppleDouble companion "._NAME" in which a Mac keeps the extended attributes of NAME on
// a volume that cannot hold them itself (FAT, exFAT). Version 2, big-endian: a header, a table
// of entries, the Finder info entry (32 bytes of Finder info followed by the "ATTR" area holding
// every other attribute) and the resource fork entry. Every offset and length read from a
// companion is checked against the bytes actually there.
class TALLOW_EXPORT AppleDoubleFile
{
public:
    static constexpr const char *finderInfoName = "com.apple.FinderInfo";
    static constexpr const char *resourceForkName = "com.apple.ResourceFork";
    static constexpr std::size_t finderInfoLength = 32;

    struct Attribute
    {
        std::string name;
        Data value;
        std::uint16_t flags = 0;
    };

    // An empty companion: no Finder info, no resource fork, no attributes.
    AppleDoubleFile();

    // nullopt when the bytes are not a well-formed companion.
    static std::optional<AppleDoubleFile> parse(const Data &bytes);
    // The companion in the layout a Mac writes: the attribute area ends no earlier than a
    // 4096-byte file with the blank resource fork would have it end, the resource fork comes last.
    Data serialized() const;

    // The companion "name" in the open folder; nullopt when there is none. Throws an Error in the
    // POSIX domain when it cannot be read (a symbolic link or other non-file is not read) or
    // does not parse.
    static std::optional<AppleDoubleFile> read(int directoryFd, const std::string &name);
    // Replaces (or creates) the companion "name" in the open folder atomically: a temporary
    // file in the same folder, flushed, then renamed over it. Throws an Error on failure, leaving
    // any existing companion as it was.
    void write(int directoryFd, const std::string &name) const;

    // The attributes a caller sees, in order: the Finder info when it is not all zero, the
    // resource fork when it holds more than the blank placeholder, then the other attributes
    // in file order. The system's own ("com.apple.system.") are never listed.
    std::vector<std::string> attributeNames() const;
    std::optional<Data> value(const std::string &name) const;
    // False when no such attribute is there.
    bool removeAttribute(const std::string &name);
    // True when nothing that counts as an attribute is left, listed or not.
    bool holdsNoAttributes() const;

    static bool isSystemAttributeName(const std::string &name);

private:
    bool hasFinderInfo() const;
    bool hasResourceFork() const;

    std::array<std::uint8_t, 16> m_filler;
    std::array<std::uint8_t, finderInfoLength> m_finderInfo {};
    Data m_resourceFork;
    std::vector<Attribute> m_attributes;
    // Entries other than the Finder info and the resource fork, kept as they came.
    std::vector<std::pair<std::uint32_t, Data>> m_otherEntries;
    std::uint32_t m_attributeDebugTag = 0;
    std::uint16_t m_attributeFlags = 0;
};
