#pragma once

#include "Value.h"
#include "ZZArchiveEntryWriter.h"
#include "ZZBytes.h"

// Writes an entry of the opened archive: its local file copied byte for byte
// (or left where it is), and its central record with the local file's new offset.
class ZZOldArchiveEntryWriter : public ZZArchiveEntryWriter
{
public:
    ZZOldArchiveEntryWriter(ZZBytes centralFileHeader, ZZBytes localFile, std::uint64_t localFileHeaderOffset,
                            bool canSkipLocalFile);

    std::uint64_t offsetToLocalFileEnd() const override;
    bool writeLocalFileToChannelOutput(ZZChannelOutput &channelOutput, std::uint64_t initialSkip,
                                       Error *error) override;
    bool writeCentralFileHeaderToChannelOutput(ZZChannelOutput &channelOutput, Error *error) override;

private:
    ZZBytes m_centralFileHeader;
    // The central record with its local-header offset patched, when the local file moves.
    Data m_movedCentralFileHeader;
    std::uint64_t m_localFileLength;
    std::uint64_t m_localFileHeaderOffset;
    // None when the local file stays where it is.
    std::optional<ZZBytes> m_localFile;
};
