#include "ZZCentralFileHeader.h"

#include "ZZLittleEndian.h"

std::uint32_t ZZCentralFileHeader::signature() const { return zzRead32(m_bytes + signatureOffset); }
std::uint8_t ZZCentralFileHeader::versionMadeBy() const { return m_bytes[versionMadeByOffset]; }
std::uint8_t ZZCentralFileHeader::fileAttributeCompatibility() const { return m_bytes[fileAttributeCompatibilityOffset]; }
std::uint16_t ZZCentralFileHeader::versionNeededToExtract() const { return zzRead16(m_bytes + versionNeededToExtractOffset); }
std::uint16_t ZZCentralFileHeader::generalPurposeBitFlag() const { return zzRead16(m_bytes + generalPurposeBitFlagOffset); }
std::uint16_t ZZCentralFileHeader::compressionMethod() const { return zzRead16(m_bytes + compressionMethodOffset); }
std::uint16_t ZZCentralFileHeader::lastModFileTime() const { return zzRead16(m_bytes + lastModFileTimeOffset); }
std::uint16_t ZZCentralFileHeader::lastModFileDate() const { return zzRead16(m_bytes + lastModFileDateOffset); }
std::uint32_t ZZCentralFileHeader::crc32() const { return zzRead32(m_bytes + crc32Offset); }
std::uint32_t ZZCentralFileHeader::compressedSize() const { return zzRead32(m_bytes + compressedSizeOffset); }
std::uint32_t ZZCentralFileHeader::uncompressedSize() const { return zzRead32(m_bytes + uncompressedSizeOffset); }
std::uint16_t ZZCentralFileHeader::fileNameLength() const { return zzRead16(m_bytes + fileNameLengthOffset); }
std::uint16_t ZZCentralFileHeader::extraFieldLength() const { return zzRead16(m_bytes + extraFieldLengthOffset); }
std::uint16_t ZZCentralFileHeader::fileCommentLength() const { return zzRead16(m_bytes + fileCommentLengthOffset); }
std::uint16_t ZZCentralFileHeader::diskNumberStart() const { return zzRead16(m_bytes + diskNumberStartOffset); }
std::uint32_t ZZCentralFileHeader::externalFileAttributes() const { return zzRead32(m_bytes + externalFileAttributesOffset); }
std::uint32_t ZZCentralFileHeader::relativeOffsetOfLocalHeader() const { return zzRead32(m_bytes + relativeOffsetOfLocalHeaderOffset); }
const std::uint8_t *ZZCentralFileHeader::fileName() const { return m_bytes + fixedLength; }
const std::uint8_t *ZZCentralFileHeader::extraField() const { return fileName() + fileNameLength(); }

std::uint64_t ZZCentralFileHeader::totalLength() const
{
    return fixedLength + fileNameLength() + extraFieldLength() + fileCommentLength();
}
