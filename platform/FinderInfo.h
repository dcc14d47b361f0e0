#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "TallowExport.h"

// The 32 bytes of classic Finder information a Mac keeps in a file's "com.apple.FinderInfo"
// attribute: the type code, and the Finder flags with the alias bit and the colour label.
class TALLOW_EXPORT FinderInfo
{
public:
    static constexpr std::size_t length = 32;

    explicit FinderInfo(const std::array<std::uint8_t, length> &bytes);

    // The item's Finder info; nothing when it has none, it is not 32 bytes or cannot be read.
    static std::optional<FinderInfo> ofItem(const std::string &path);
    // The same for the entry of an open folder (see ExtendedAttributes::getAt).
    static std::optional<FinderInfo> ofItemAt(int folderFd, const std::string &name,
                                              std::optional<bool> folderKeepsAttributes = std::nullopt);

    std::uint32_t typeCode() const;
    std::uint16_t finderFlags() const;
    bool isAlias() const;
    // 0 (none) to 7.
    int colorLabel() const;

private:
    std::array<std::uint8_t, length> m_bytes;
};

// The item's classic type as a four-character code between single quotes ("'TEXT'"), or "''"
// when it has none (folders have none); nothing when the item cannot be examined.
TALLOW_EXPORT std::optional<std::string> NSHFSTypeOfFile(const std::string &path);
// The same for the entry of an open folder.
TALLOW_EXPORT std::optional<std::string> NSHFSTypeOfFileAt(int folderFd, const std::string &name,
                                                           std::optional<bool> folderKeepsAttributes = std::nullopt);
