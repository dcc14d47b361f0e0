#pragma once

#include <cstdint>

#include "Error.h"
#include "ZZBytes.h"

// Where a rewritten archive is written.
class ZZChannelOutput
{
public:
    virtual ~ZZChannelOutput() = default;

    virtual std::uint64_t offset() const = 0;
    virtual bool seekToOffset(std::uint64_t offset, Error *error) = 0;
    virtual bool writeData(const ZZBytes &data, Error *error) = 0;
    virtual bool truncateAtOffset(std::uint64_t offset, Error *error) = 0;
    // Writes out anything still held back; a failure there is reported.
    virtual bool close(Error *error) = 0;

    bool writeData(const void *data, std::uint64_t length, Error *error);
};
