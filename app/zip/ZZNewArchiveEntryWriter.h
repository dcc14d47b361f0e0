#pragma once

#include "Value.h"
#include "ZZArchiveEntry.h"
#include "ZZArchiveEntryWriter.h"
#include "ZZOutputStream.h"

// Writes a new entry: local header, stored or deflated data, then a data
// descriptor; the central record gets the CRC-32 and sizes once the data is out.
class ZZNewArchiveEntryWriter : public ZZArchiveEntryWriter
{
public:
    ZZNewArchiveEntryWriter(const std::string &fileName, std::uint16_t fileMode, Date lastModified,
                            std::int64_t compressionLevel, ZZArchiveEntry::DataBlock dataBlock,
                            ZZArchiveEntry::StreamBlock streamBlock,
                            ZZArchiveEntry::DataConsumerBlock dataConsumerBlock);

    std::uint64_t offsetToLocalFileEnd() const override;
    bool writeLocalFileToChannelOutput(ZZChannelOutput &channelOutput, std::uint64_t initialSkip,
                                       Error *error) override;
    bool writeCentralFileHeaderToChannelOutput(ZZChannelOutput &channelOutput, Error *error) override;

    const Data &centralFileHeader() const;
    const Data &localFileHeader() const;

private:
    // Opens the stream, feeds it the entry's contents and closes it.
    bool writeThroughStream(ZZOutputStream &stream, Error *error);
    bool writeData(ZZChannelOutput &channelOutput, std::uint32_t &crc32, std::uint64_t &compressedSize,
                   std::uint64_t &uncompressedSize, Error *error);

    Data m_centralFileHeader;
    Data m_localFileHeader;
    std::int64_t m_compressionLevel;
    ZZArchiveEntry::DataBlock m_dataBlock;
    ZZArchiveEntry::StreamBlock m_streamBlock;
    ZZArchiveEntry::DataConsumerBlock m_dataConsumerBlock;
};
