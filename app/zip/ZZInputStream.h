#pragma once

#include <cstdint>
#include <optional>

#include "Error.h"

enum ZZStreamStatus : int
{
    ZZStreamStatusNotOpen = 0,
    ZZStreamStatusOpening = 1,
    ZZStreamStatusOpen = 2,
    ZZStreamStatusAtEnd = 5,
    ZZStreamStatusClosed = 6,
    ZZStreamStatusError = 7
};

// A source of bytes read in chunks: read answers the count read, 0 at the end
// and -1 on an error, which streamError then describes.
class ZZInputStream
{
public:
    virtual ~ZZInputStream() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual std::int64_t read(std::uint8_t *buffer, std::uint64_t maxLength) = 0;
    virtual ZZStreamStatus streamStatus() const = 0;
    virtual std::optional<Error> streamError() const = 0;

    bool getBuffer(std::uint8_t **buffer, std::uint64_t *length) const;
    bool hasBytesAvailable() const;
};
