#pragma once

#include <cstdint>

// A view of a central directory record; the caller has checked that its 46 fixed
// bytes are readable (and, before using them, its name, extra field and comment).
class ZZCentralFileHeader
{
public:
    static constexpr std::uint32_t sign = 0x02014b50;
    static constexpr std::uint64_t fixedLength = 46;
    enum Offset : std::uint64_t
    {
        signatureOffset = 0,
        versionMadeByOffset = 4,
        fileAttributeCompatibilityOffset = 5,
        versionNeededToExtractOffset = 6,
        generalPurposeBitFlagOffset = 8,
        compressionMethodOffset = 10,
        lastModFileTimeOffset = 12,
        lastModFileDateOffset = 14,
        crc32Offset = 16,
        compressedSizeOffset = 20,
        uncompressedSizeOffset = 24,
        fileNameLengthOffset = 28,
        extraFieldLengthOffset = 30,
        fileCommentLengthOffset = 32,
        diskNumberStartOffset = 34,
        internalFileAttributesOffset = 36,
        externalFileAttributesOffset = 38,
        relativeOffsetOfLocalHeaderOffset = 42
    };

    explicit ZZCentralFileHeader(const std::uint8_t *bytes) : m_bytes(bytes) {}

    std::uint32_t signature() const;
    std::uint8_t versionMadeBy() const;
    std::uint8_t fileAttributeCompatibility() const;
    std::uint16_t versionNeededToExtract() const;
    std::uint16_t generalPurposeBitFlag() const;
    std::uint16_t compressionMethod() const;
    std::uint16_t lastModFileTime() const;
    std::uint16_t lastModFileDate() const;
    std::uint32_t crc32() const;
    std::uint32_t compressedSize() const;
    std::uint32_t uncompressedSize() const;
    std::uint16_t fileNameLength() const;
    std::uint16_t extraFieldLength() const;
    std::uint16_t fileCommentLength() const;
    std::uint16_t diskNumberStart() const;
    std::uint32_t externalFileAttributes() const;
    std::uint32_t relativeOffsetOfLocalHeader() const;
    const std::uint8_t *fileName() const;
    const std::uint8_t *extraField() const;
    // Fixed part, name, extra field and comment.
    std::uint64_t totalLength() const;

private:
    const std::uint8_t *m_bytes;
};
