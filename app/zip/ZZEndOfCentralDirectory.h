#pragma once

#include <cstdint>

// A view of the end-of-central-directory record (22 readable bytes).
class ZZEndOfCentralDirectory
{
public:
    static constexpr std::uint32_t sign = 0x06054b50;
    static constexpr std::uint64_t fixedLength = 22;
    static constexpr std::uint64_t maximumCommentLength = 65535;
    // The zip64 locator that sits just before the record when the archive has one.
    static constexpr std::uint32_t zip64LocatorSign = 0x07064b50;
    static constexpr std::uint64_t zip64LocatorLength = 20;

    explicit ZZEndOfCentralDirectory(const std::uint8_t *bytes) : m_bytes(bytes) {}

    std::uint32_t signature() const;
    std::uint16_t numberOfThisDisk() const;
    std::uint16_t numberOfTheDiskWithTheStartOfTheCentralDirectory() const;
    std::uint16_t totalNumberOfEntriesInTheCentralDirectoryOnThisDisk() const;
    std::uint16_t totalNumberOfEntriesInTheCentralDirectory() const;
    std::uint32_t sizeOfTheCentralDirectory() const;
    std::uint32_t offsetOfStartOfCentralDirectory() const;
    std::uint16_t zipFileCommentLength() const;

    // Fills `record` (22 bytes) with a record of no comment.
    static void make(std::uint8_t *record, std::uint16_t entries, std::uint32_t centralSize, std::uint32_t centralOffset);

private:
    const std::uint8_t *m_bytes;
};
