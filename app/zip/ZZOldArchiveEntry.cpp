#include "ZZOldArchiveEntry.h"

#include <cstring>
#include <ctime>
#include <zlib.h>

#include "ZZAESDecryptInputStream.h"
#include "ZZDataProvider.h"
#include "ZZError.h"
#include "ZZExtraField.h"
#include "ZZInflateInputStream.h"
#include "ZZLittleEndian.h"
#include "ZZMemoryInputStream.h"
#include "ZZOldArchiveEntryWriter.h"
#include "ZZStandardDecryptInputStream.h"
#include "ZZStringEncoding.h"
#include "ZZVerifyingInputStream.h"

namespace
{
constexpr std::uint16_t encryptedFlag = 1 << 0;
constexpr std::uint16_t dataDescriptorFlag = 1 << 3;
constexpr std::uint16_t strongEncryptionFlag = 1 << 6;
constexpr std::uint16_t utf8NameFlag = 1 << 11;
constexpr std::uint16_t storedMethod = 0;
constexpr std::uint16_t deflatedMethod = 8;
constexpr std::uint64_t standardEncryptionHeaderLength = 12;
constexpr std::uint32_t saturated32 = 0xFFFFFFFF;
// Deflate cannot expand data by more than this factor.
constexpr std::uint64_t largestDeflateRatio = 1032;

ZZEncryptionMode encryptionModeOf(std::uint16_t flags, const std::uint8_t *extra, std::uint16_t extraLength)
{
    if (!(flags & encryptedFlag))
        return ZZEncryptionModeNone;
    if (ZZExtraField::hasBlock(extra, extraLength, ZZExtraField::winZipAESId))
        return ZZEncryptionModeWinZipAES;
    return flags & strongEncryptionFlag ? ZZEncryptionModeStrong : ZZEncryptionModeStandard;
}
}

ZZOldArchiveEntry::ZZOldArchiveEntry(std::shared_ptr<const ZZArchiveLayout> layout, std::size_t index,
                                     std::uint64_t encoding)
    : m_layout(std::move(layout)), m_index(index), m_centralFileHeader(m_layout->centralFileHeader(index)),
      m_encoding(encoding)
{
    const ZZCentralFileHeader central = centralFileHeader();
    m_localFileHeader = central.relativeOffsetOfLocalHeader();
    m_encryptionMode = encryptionModeOf(central.generalPurposeBitFlag(), central.extraField(), central.extraFieldLength());
}

const ZZBytes &ZZOldArchiveEntry::contents() const
{
    return m_layout->contents();
}

ZZCentralFileHeader ZZOldArchiveEntry::centralFileHeader() const
{
    return ZZCentralFileHeader(contents().data + m_centralFileHeader);
}

std::optional<ZZLocalFileHeader> ZZOldArchiveEntry::localFileHeader(Error *error) const
{
    const std::uint64_t localFilesEnd = m_layout->localFilesEnd();
    if (m_localFileHeader > localFilesEnd || localFilesEnd - m_localFileHeader < ZZLocalFileHeader::fixedLength) {
        zzFail(error, zzError(ZZLocalFileReadErrorCode));
        return std::nullopt;
    }
    const ZZLocalFileHeader local(contents().data + m_localFileHeader);
    if (local.totalLength() > localFilesEnd - m_localFileHeader) {
        zzFail(error, zzError(ZZLocalFileReadErrorCode));
        return std::nullopt;
    }
    return local;
}

std::uint64_t ZZOldArchiveEntry::dataOffset(const ZZLocalFileHeader &local) const
{
    return m_localFileHeader + local.totalLength();
}

std::uint64_t ZZOldArchiveEntry::localFileHeaderOffset() const
{
    return m_localFileHeader;
}

ZZEncryptionMode ZZOldArchiveEntry::encryptionMode() const
{
    return m_encryptionMode;
}

bool ZZOldArchiveEntry::compressed() const
{
    return compressionMethod() != storedMethod;
}

bool ZZOldArchiveEntry::encrypted() const
{
    return centralFileHeader().generalPurposeBitFlag() & encryptedFlag;
}

std::uint16_t ZZOldArchiveEntry::compressionMethod() const
{
    const ZZCentralFileHeader central = centralFileHeader();
    if (m_encryptionMode == ZZEncryptionModeWinZipAES) {
        if (const auto aes = ZZWinZipAESExtra::find(central.extraField(), central.extraFieldLength()))
            return aes->compressionMethod;
    }
    return central.compressionMethod();
}

std::uint32_t ZZOldArchiveEntry::crc32() const
{
    return centralFileHeader().crc32();
}

std::uint64_t ZZOldArchiveEntry::compressedSize() const
{
    return centralFileHeader().compressedSize();
}

std::uint64_t ZZOldArchiveEntry::uncompressedSize() const
{
    return centralFileHeader().uncompressedSize();
}

Date ZZOldArchiveEntry::lastModified() const
{
    const ZZCentralFileHeader central = centralFileHeader();
    const std::uint16_t time = central.lastModFileTime();
    const std::uint16_t date = central.lastModFileDate();
    std::tm components {};
    components.tm_sec = (time * 2) & 0x3E;
    components.tm_min = (time >> 5) & 0x3F;
    components.tm_hour = time >> 11;
    components.tm_mday = date & 0x1F;
    components.tm_mon = ((date >> 5) & 0x0F) - 1;
    components.tm_year = (date >> 9) + 1980 - 1900;
    components.tm_isdst = -1;
    return Date{static_cast<double>(std::mktime(&components))};
}

std::uint16_t ZZOldArchiveEntry::fileMode() const
{
    const ZZCentralFileHeader central = centralFileHeader();
    const std::uint32_t attributes = central.externalFileAttributes();
    switch (central.fileAttributeCompatibility()) {
    case 3:
        return static_cast<std::uint16_t>(attributes >> 16);
    case 0:
    case 10: {
        std::uint16_t mode = attributes & 0x18 ? 040755 : 0100644;
        if (attributes & 0x01)
            mode &= static_cast<std::uint16_t>(~0200);
        return mode;
    }
    default:
        return 0;
    }
}

std::string_view ZZOldArchiveEntry::rawFileName() const
{
    const ZZCentralFileHeader central = centralFileHeader();
    return std::string_view(reinterpret_cast<const char *>(central.fileName()), central.fileNameLength());
}

std::optional<std::string> ZZOldArchiveEntry::fileName() const
{
    const ZZCentralFileHeader central = centralFileHeader();
    const std::uint64_t encoding = central.generalPurposeBitFlag() & utf8NameFlag ? ZZUTF8StringEncoding : m_encoding;
    return zzDecodeString(central.fileName(), central.fileNameLength(), encoding);
}

bool ZZOldArchiveEntry::check(Error *error) const
{
    const auto local = localFileHeader(error);
    if (!local)
        return false;
    const ZZCentralFileHeader central = centralFileHeader();
    const Error mismatch = zzError(ZZLocalFileReadErrorCode);
    if (local->signature() != ZZLocalFileHeader::sign || local->versionNeededToExtract() != central.versionNeededToExtract()
        || local->generalPurposeBitFlag() != central.generalPurposeBitFlag()
        || local->lastModFileTime() != central.lastModFileTime() || local->lastModFileDate() != central.lastModFileDate()
        || local->fileNameLength() != central.fileNameLength()
        || std::memcmp(local->fileName(), central.fileName(), central.fileNameLength()) != 0)
        return zzFail(error, mismatch);
    // A WinZip-AES entry's headers both carry 99; the real method is in its extra block.
    const std::uint16_t method = m_encryptionMode == ZZEncryptionModeWinZipAES ? central.compressionMethod()
                                                                              : compressionMethod();
    if (local->compressionMethod() != method)
        return zzFail(error, mismatch);
    if (local->generalPurposeBitFlag() & dataDescriptorFlag) {
        if (!localFileLength(error))
            return false;
    } else {
        std::uint64_t localCompressed = local->compressedSize();
        std::uint64_t localUncompressed = local->uncompressedSize();
        const auto zip64 = ZZExtraField::find(local->extraField(), local->extraFieldLength(), ZZExtraField::zip64Id);
        if (localCompressed == saturated32 && localUncompressed == saturated32 && zip64 && zip64->size >= 16) {
            localUncompressed = zzRead64(zip64->data);
            localCompressed = zzRead64(zip64->data + 8);
        }
        if (local->crc32() != central.crc32() || localCompressed != central.compressedSize()
            || localUncompressed != central.uncompressedSize())
            return zzFail(error, mismatch);
    }
    if (encryptionModeOf(local->generalPurposeBitFlag(), local->extraField(), local->extraFieldLength()) != m_encryptionMode)
        return zzFail(error, mismatch);
    return true;
}

std::optional<std::uint64_t> ZZOldArchiveEntry::localFileLength(Error *error) const
{
    const std::vector<std::uint64_t> *lengths = m_layout->localFileLengths(error);
    if (!lengths)
        return std::nullopt;
    return (*lengths)[m_index];
}

bool ZZOldArchiveEntry::checkEncryptionAndCompression(Error *error) const
{
    if (m_encryptionMode == ZZEncryptionModeStrong || m_encryptionMode > ZZEncryptionModeWinZipAES)
        return zzFail(error, zzError(ZZUnsupportedEncryptionMethod));
    if (m_encryptionMode == ZZEncryptionModeWinZipAES) {
        const auto local = localFileHeader(error);
        if (!local)
            return false;
        const auto aes = ZZWinZipAESExtra::find(local->extraField(), local->extraFieldLength());
        if (!aes || aes->strength < 1 || aes->strength > 3)
            return zzFail(error, zzError(ZZUnsupportedEncryptionMethod));
    }
    const std::uint16_t method = compressionMethod();
    if (method != storedMethod && method != deflatedMethod)
        return zzFail(error, zzError(ZZUnsupportedCompressionMethod));
    return true;
}

std::optional<ZZBytes> ZZOldArchiveEntry::fileData(Error *error) const
{
    // Read only while no local file overlaps another, and while the file still holds the whole mapping.
    if (!m_layout->localFileLengths(error))
        return std::nullopt;
    if (!contents().isWhole()) {
        zzFail(error, zzError(ZZLocalFileReadErrorCode));
        return std::nullopt;
    }
    const auto local = localFileHeader(error);
    if (!local)
        return std::nullopt;
    std::uint64_t start = dataOffset(*local);
    std::uint64_t length = centralFileHeader().compressedSize();
    const std::uint64_t localFilesEnd = m_layout->localFilesEnd();
    if (start > localFilesEnd || length > localFilesEnd - start) {
        zzFail(error, zzError(ZZLocalFileReadErrorCode));
        return std::nullopt;
    }
    if (m_encryptionMode == ZZEncryptionModeStandard) {
        if (length < standardEncryptionHeaderLength) {
            zzFail(error, zzError(ZZLocalFileReadErrorCode));
            return std::nullopt;
        }
        start += standardEncryptionHeaderLength;
        length -= standardEncryptionHeaderLength;
    } else if (m_encryptionMode == ZZEncryptionModeWinZipAES) {
        const auto aes = ZZWinZipAESExtra::find(local->extraField(), local->extraFieldLength());
        if (!aes || aes->strength < 1 || aes->strength > 3) {
            zzFail(error, zzError(ZZUnsupportedEncryptionMethod));
            return std::nullopt;
        }
        const std::uint64_t salt = ZZAESDecryptInputStream::saltLength(aes->strength);
        const std::uint64_t overhead = salt + 2 + ZZAESDecryptInputStream::authenticationCodeLength;
        if (length < overhead) {
            zzFail(error, zzError(ZZLocalFileReadErrorCode));
            return std::nullopt;
        }
        start += salt + 2;
        length -= overhead;
    }
    return contents().slice(start, length);
}

std::optional<std::uint32_t> ZZOldArchiveEntry::expectedCRC32() const
{
    if (m_encryptionMode == ZZEncryptionModeWinZipAES) {
        // AE-2 leaves the CRC out; its authentication code guards the data instead.
        const ZZCentralFileHeader central = centralFileHeader();
        const auto aes = ZZWinZipAESExtra::find(central.extraField(), central.extraFieldLength());
        if (!aes || aes->vendorVersion == 2)
            return std::nullopt;
    }
    return crc32();
}

bool ZZOldArchiveEntry::checkUncompressedSize(std::uint64_t dataLength, Error *error) const
{
    const std::uint64_t size = uncompressedSize();
    const bool plausible = compressionMethod() == storedMethod ? size == dataLength
                                                                : size <= dataLength * largestDeflateRatio + 1024;
    return plausible || zzFail(error, zzError(ZZInvalidCRChecksum));
}

std::unique_ptr<ZZInputStream> ZZOldArchiveEntry::streamForData(const ZZBytes &data, const std::string &password,
                                                                Error *error) const
{
    const auto local = localFileHeader(error);
    if (!local || !fileData(error))
        return nullptr;
    const ZZCentralFileHeader central = centralFileHeader();
    const std::uint64_t start = dataOffset(*local);
    std::unique_ptr<ZZInputStream> stream = std::make_unique<ZZMemoryInputStream>(data);
    switch (m_encryptionMode) {
    case ZZEncryptionModeWinZipAES: {
        const auto aes = ZZWinZipAESExtra::find(local->extraField(), local->extraFieldLength());
        const std::uint64_t codeAt = start + central.compressedSize() - ZZAESDecryptInputStream::authenticationCodeLength;
        stream = ZZAESDecryptInputStream::create(std::move(stream), password, contents().data + start, aes->strength,
                                                 contents().slice(codeAt, ZZAESDecryptInputStream::authenticationCodeLength),
                                                 error);
        break;
    }
    case ZZEncryptionModeStandard: {
        const std::uint16_t check = central.generalPurposeBitFlag() & dataDescriptorFlag
            ? central.lastModFileTime()
            : static_cast<std::uint16_t>(central.crc32() >> 16);
        stream = ZZStandardDecryptInputStream::create(std::move(stream), password, contents().data + start, check,
                                                      central.versionMadeBy(), error);
        break;
    }
    case ZZEncryptionModeNone:
        break;
    default:
        zzFail(error, zzError(ZZUnsupportedEncryptionMethod));
        return nullptr;
    }
    if (!stream)
        return nullptr;
    const std::uint16_t method = compressionMethod();
    if (method == deflatedMethod) {
        stream = std::make_unique<ZZInflateInputStream>(std::move(stream));
    } else if (method != storedMethod) {
        zzFail(error, zzError(ZZUnsupportedCompressionMethod));
        return nullptr;
    }
    return std::make_unique<ZZVerifyingInputStream>(std::move(stream), uncompressedSize(), expectedCRC32());
}

std::unique_ptr<ZZInputStream> ZZOldArchiveEntry::newStreamWithPassword(const std::string &password, Error *error) const
{
    if (!checkEncryptionAndCompression(error))
        return nullptr;
    const auto data = fileData(error);
    if (!data || !checkUncompressedSize(data->size, error))
        return nullptr;
    return streamForData(*data, password, error);
}

std::optional<Data> ZZOldArchiveEntry::newDataWithPassword(const std::string &password, Error *error) const
{
    if (!checkEncryptionAndCompression(error))
        return std::nullopt;
    const auto data = fileData(error);
    if (!data || !checkUncompressedSize(data->size, error))
        return std::nullopt;
    if (!encrypted()) {
        std::optional<Data> result;
        if (compressionMethod() == deflatedMethod)
            result = ZZInflateInputStream::decompressData(*data, uncompressedSize());
        else
            result = Data(data->data, data->data + data->size);
        if (!result || ::crc32_z(0, result->data(), result->size()) != crc32()) {
            zzFail(error, zzError(ZZInvalidCRChecksum));
            return std::nullopt;
        }
        // Shortened while it was copied: the copy may hold zeros for the lost part.
        if (!contents().isWhole()) {
            zzFail(error, zzError(ZZLocalFileReadErrorCode));
            return std::nullopt;
        }
        return result;
    }
    auto stream = streamForData(*data, password, error);
    if (!stream)
        return std::nullopt;
    Data result(uncompressedSize());
    stream->open();
    std::uint64_t total = 0;
    std::int64_t count = 1;
    while (total < result.size() && count > 0) {
        count = stream->read(result.data() + total, result.size() - total);
        if (count > 0)
            total += static_cast<std::uint64_t>(count);
    }
    // One more read reaches the end, where the length and checksums are checked.
    std::uint8_t spare = 0;
    if (count >= 0)
        count = stream->read(&spare, 1);
    const auto streamError = stream->streamError();
    stream->close();
    if (count != 0 || total != result.size()) {
        zzFail(error, streamError.value_or(zzError(ZZInvalidCRChecksum)));
        return std::nullopt;
    }
    return result;
}

std::unique_ptr<ZZDataProvider> ZZOldArchiveEntry::newDataProviderWithPassword(const std::string &password,
                                                                               Error *error) const
{
    if (!compressed() && !encrypted()) {
        auto data = newDataWithPassword(password, error);
        return data ? ZZDataProvider::directWithData(std::move(*data)) : nullptr;
    }
    if (!checkEncryptionAndCompression(error))
        return nullptr;
    const auto data = fileData(error);
    if (!data || !checkUncompressedSize(data->size, error))
        return nullptr;
    return ZZDataProvider::sequentialWithStream(
        [entry = *this, bytes = *data, password] { return entry.streamForData(bytes, password, nullptr); });
}

std::unique_ptr<ZZArchiveEntryWriter> ZZOldArchiveEntry::newWriterCanSkipLocalFile(bool canSkipLocalFile,
                                                                                   Error *error) const
{
    const auto length = localFileLength(error);
    if (!length)
        return nullptr;
    const ZZCentralFileHeader central = centralFileHeader();
    return std::make_unique<ZZOldArchiveEntryWriter>(contents().slice(m_centralFileHeader, central.totalLength()),
                                                     contents().slice(m_localFileHeader, *length), m_localFileHeader,
                                                     canSkipLocalFile);
}
