#pragma once

#include <cstdint>

#include "Error.h"
#include "ZZChannelOutput.h"

// Writes one entry of a rewritten archive: its local file, then later its central record.
class ZZArchiveEntryWriter
{
public:
    virtual ~ZZArchiveEntryWriter() = default;

    // Where the entry's local file ends when it stays in place; 0 when it is written anew.
    virtual std::uint64_t offsetToLocalFileEnd() const = 0;
    virtual bool writeLocalFileToChannelOutput(ZZChannelOutput &channelOutput, std::uint64_t initialSkip,
                                               Error *error) = 0;
    virtual bool writeCentralFileHeaderToChannelOutput(ZZChannelOutput &channelOutput, Error *error) = 0;
};
