#include "ZZNewArchiveEntryWriter.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <zlib.h>

#include "ZZCentralFileHeader.h"
#include "ZZDataConsumer.h"
#include "ZZDataDescriptor.h"
#include "ZZDeflateOutputStream.h"
#include "ZZError.h"
#include "ZZLittleEndian.h"
#include "ZZLocalFileHeader.h"
#include "ZZStoreOutputStream.h"

namespace
{
constexpr std::uint32_t largest32 = 0xFFFFFFFF;

std::uint16_t flagsFor(std::int64_t level)
{
    switch (level) {
    case 1:
    case 2: return 0x080E;
    case 3:
    case 4: return 0x080C;
    case 8:
    case 9: return 0x080A;
    default: return 0x0808;
    }
}

// Writes the whole buffer through the stream; false on the stream's failure.
bool writeAll(ZZOutputStream &stream, const Data &data, Error *error)
{
    std::uint64_t done = 0;
    while (done < data.size()) {
        const std::int64_t written = stream.write(data.data() + done, data.size() - done);
        if (written < 0)
            return zzFail(error, stream.streamError().value_or(Error::posix(EIO)));
        done += static_cast<std::uint64_t>(written);
    }
    return true;
}
}

ZZNewArchiveEntryWriter::ZZNewArchiveEntryWriter(const std::string &fileName, std::uint16_t fileMode,
                                                 Date lastModified, std::int64_t compressionLevel,
                                                 ZZArchiveEntry::DataBlock dataBlock,
                                                 ZZArchiveEntry::StreamBlock streamBlock,
                                                 ZZArchiveEntry::DataConsumerBlock dataConsumerBlock)
    : m_compressionLevel(compressionLevel), m_dataBlock(std::move(dataBlock)), m_streamBlock(std::move(streamBlock)),
      m_dataConsumerBlock(std::move(dataConsumerBlock))
{
    const std::size_t nameLength = fileName.size();
    m_centralFileHeader.assign(ZZCentralFileHeader::fixedLength + nameLength, 0);
    m_localFileHeader.assign(ZZLocalFileHeader::fixedLength + nameLength, 0);
    std::uint8_t *central = m_centralFileHeader.data();
    std::uint8_t *local = m_localFileHeader.data();

    const std::time_t seconds = static_cast<std::time_t>(lastModified.secondsSince1970);
    std::tm components {};
    localtime_r(&seconds, &components);
    const auto dosTime = static_cast<std::uint16_t>(components.tm_hour << 11 | components.tm_min << 5
                                                    | (components.tm_sec + 1) >> 1);
    const auto dosDate = static_cast<std::uint16_t>(((components.tm_year + 1900 - 1980) % 128) << 9
                                                    | (components.tm_mon + 1) << 5 | components.tm_mday);
    const std::uint16_t flags = flagsFor(compressionLevel);
    const std::uint16_t method = compressionLevel != 0 ? 8 : 0;

    zzWrite32(central + ZZCentralFileHeader::signatureOffset, ZZCentralFileHeader::sign);
    zzWrite16(central + ZZCentralFileHeader::versionMadeByOffset, 0x031E);
    zzWrite16(central + ZZCentralFileHeader::versionNeededToExtractOffset, 10);
    zzWrite16(central + ZZCentralFileHeader::generalPurposeBitFlagOffset, flags);
    zzWrite16(central + ZZCentralFileHeader::compressionMethodOffset, method);
    zzWrite16(central + ZZCentralFileHeader::lastModFileTimeOffset, dosTime);
    zzWrite16(central + ZZCentralFileHeader::lastModFileDateOffset, dosDate);
    zzWrite16(central + ZZCentralFileHeader::fileNameLengthOffset, static_cast<std::uint16_t>(nameLength));
    zzWrite32(central + ZZCentralFileHeader::externalFileAttributesOffset, static_cast<std::uint32_t>(fileMode) << 16);
    std::memcpy(central + ZZCentralFileHeader::fixedLength, fileName.data(), nameLength);

    zzWrite32(local + ZZLocalFileHeader::signatureOffset, ZZLocalFileHeader::sign);
    zzWrite16(local + ZZLocalFileHeader::versionNeededToExtractOffset, 10);
    zzWrite16(local + ZZLocalFileHeader::generalPurposeBitFlagOffset, flags);
    zzWrite16(local + ZZLocalFileHeader::compressionMethodOffset, method);
    zzWrite16(local + ZZLocalFileHeader::lastModFileTimeOffset, dosTime);
    zzWrite16(local + ZZLocalFileHeader::lastModFileDateOffset, dosDate);
    zzWrite16(local + ZZLocalFileHeader::fileNameLengthOffset, static_cast<std::uint16_t>(nameLength));
    std::memcpy(local + ZZLocalFileHeader::fixedLength, fileName.data(), nameLength);
}

const Data &ZZNewArchiveEntryWriter::centralFileHeader() const
{
    return m_centralFileHeader;
}

const Data &ZZNewArchiveEntryWriter::localFileHeader() const
{
    return m_localFileHeader;
}

std::uint64_t ZZNewArchiveEntryWriter::offsetToLocalFileEnd() const
{
    return 0;
}

bool ZZNewArchiveEntryWriter::writeLocalFileToChannelOutput(ZZChannelOutput &channelOutput, std::uint64_t initialSkip,
                                                            Error *error)
{
    const std::uint64_t offset = initialSkip + channelOutput.offset();
    if (offset > largest32)
        return zzFail(error, Error::posix(EFBIG));
    zzWrite32(m_centralFileHeader.data() + ZZCentralFileHeader::relativeOffsetOfLocalHeaderOffset,
              static_cast<std::uint32_t>(offset));
    if (!channelOutput.writeData(m_localFileHeader.data(), m_localFileHeader.size(), error))
        return false;

    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    if (!writeData(channelOutput, crc32, compressedSize, uncompressedSize, error))
        return false;
    // Sizes that do not fit the record are refused rather than cut.
    if (compressedSize > largest32 || uncompressedSize > largest32)
        return zzFail(error, Error::posix(EFBIG));

    std::uint8_t *central = m_centralFileHeader.data();
    zzWrite32(central + ZZCentralFileHeader::crc32Offset, crc32);
    zzWrite32(central + ZZCentralFileHeader::compressedSizeOffset, static_cast<std::uint32_t>(compressedSize));
    zzWrite32(central + ZZCentralFileHeader::uncompressedSizeOffset, static_cast<std::uint32_t>(uncompressedSize));

    std::uint8_t descriptor[16];
    zzWrite32(descriptor, ZZDataDescriptor::sign);
    zzWrite32(descriptor + 4, crc32);
    zzWrite32(descriptor + 8, static_cast<std::uint32_t>(compressedSize));
    zzWrite32(descriptor + 12, static_cast<std::uint32_t>(uncompressedSize));
    return channelOutput.writeData(descriptor, sizeof descriptor, error);
}

bool ZZNewArchiveEntryWriter::writeThroughStream(ZZOutputStream &stream, Error *error)
{
    stream.open();
    bool written = stream.streamStatus() == ZZStreamStatusOpen
        || zzFail(error, stream.streamError().value_or(Error::posix(EIO)));
    if (written && m_dataBlock) {
        const auto data = m_dataBlock(error);
        written = data && writeAll(stream, *data, error);
    } else if (written && m_streamBlock) {
        written = m_streamBlock(stream, error);
    } else if (written && m_dataConsumerBlock) {
        ZZDataConsumer consumer(stream);
        written = m_dataConsumerBlock(consumer, error);
    }
    stream.close();
    if (written && stream.streamStatus() == ZZStreamStatusError)
        written = zzFail(error, stream.streamError().value_or(Error::posix(EIO)));
    return written;
}

bool ZZNewArchiveEntryWriter::writeData(ZZChannelOutput &channelOutput, std::uint32_t &crc32,
                                        std::uint64_t &compressedSize, std::uint64_t &uncompressedSize, Error *error)
{
    if (m_compressionLevel != 0) {
        ZZDeflateOutputStream stream(channelOutput, m_compressionLevel);
        const bool written = writeThroughStream(stream, error);
        crc32 = stream.crc32();
        compressedSize = stream.compressedSize();
        uncompressedSize = stream.uncompressedSize();
        return written;
    }
    // Stored data already in memory goes straight to the channel.
    if (m_dataBlock) {
        const auto data = m_dataBlock(error);
        if (!data || !channelOutput.writeData(data->data(), data->size(), error))
            return false;
        crc32 = static_cast<std::uint32_t>(::crc32_z(0, data->data(), data->size()));
        compressedSize = uncompressedSize = data->size();
        return true;
    }
    if (!m_streamBlock && !m_dataConsumerBlock)
        return true;
    ZZStoreOutputStream stream(channelOutput);
    const bool written = writeThroughStream(stream, error);
    crc32 = stream.crc32();
    compressedSize = uncompressedSize = stream.size();
    return written;
}

bool ZZNewArchiveEntryWriter::writeCentralFileHeaderToChannelOutput(ZZChannelOutput &channelOutput, Error *error)
{
    return channelOutput.writeData(m_centralFileHeader.data(), m_centralFileHeader.size(), error);
}
