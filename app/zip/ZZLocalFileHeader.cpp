#include "ZZLocalFileHeader.h"

#include "ZZLittleEndian.h"

std::uint32_t ZZLocalFileHeader::signature() const { return zzRead32(m_bytes + signatureOffset); }
std::uint16_t ZZLocalFileHeader::versionNeededToExtract() const { return zzRead16(m_bytes + versionNeededToExtractOffset); }
std::uint16_t ZZLocalFileHeader::generalPurposeBitFlag() const { return zzRead16(m_bytes + generalPurposeBitFlagOffset); }
std::uint16_t ZZLocalFileHeader::compressionMethod() const { return zzRead16(m_bytes + compressionMethodOffset); }
std::uint16_t ZZLocalFileHeader::lastModFileTime() const { return zzRead16(m_bytes + lastModFileTimeOffset); }
std::uint16_t ZZLocalFileHeader::lastModFileDate() const { return zzRead16(m_bytes + lastModFileDateOffset); }
std::uint32_t ZZLocalFileHeader::crc32() const { return zzRead32(m_bytes + crc32Offset); }
std::uint32_t ZZLocalFileHeader::compressedSize() const { return zzRead32(m_bytes + compressedSizeOffset); }
std::uint32_t ZZLocalFileHeader::uncompressedSize() const { return zzRead32(m_bytes + uncompressedSizeOffset); }
std::uint16_t ZZLocalFileHeader::fileNameLength() const { return zzRead16(m_bytes + fileNameLengthOffset); }
std::uint16_t ZZLocalFileHeader::extraFieldLength() const { return zzRead16(m_bytes + extraFieldLengthOffset); }
const std::uint8_t *ZZLocalFileHeader::fileName() const { return m_bytes + fixedLength; }
const std::uint8_t *ZZLocalFileHeader::extraField() const { return fileName() + fileNameLength(); }

std::uint64_t ZZLocalFileHeader::totalLength() const
{
    return fixedLength + fileNameLength() + extraFieldLength();
}
