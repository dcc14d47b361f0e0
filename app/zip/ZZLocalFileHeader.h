#pragma once

#include <cstdint>

// A view of a local file header; the caller has checked that its 30 fixed bytes
// are readable (and, before using them, its name and extra field).
class ZZLocalFileHeader
{
public:
    static constexpr std::uint32_t sign = 0x04034b50;
    static constexpr std::uint64_t fixedLength = 30;
    enum Offset : std::uint64_t
    {
        signatureOffset = 0,
        versionNeededToExtractOffset = 4,
        generalPurposeBitFlagOffset = 6,
        compressionMethodOffset = 8,
        lastModFileTimeOffset = 10,
        lastModFileDateOffset = 12,
        crc32Offset = 14,
        compressedSizeOffset = 18,
        uncompressedSizeOffset = 22,
        fileNameLengthOffset = 26,
        extraFieldLengthOffset = 28
    };

    explicit ZZLocalFileHeader(const std::uint8_t *bytes) : m_bytes(bytes) {}

    std::uint32_t signature() const;
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
    const std::uint8_t *fileName() const;
    const std::uint8_t *extraField() const;
    // Fixed part, name and extra field: where the entry's data begins.
    std::uint64_t totalLength() const;

private:
    const std::uint8_t *m_bytes;
};
