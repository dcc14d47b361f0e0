#pragma once

#include <cstdint>
#include <optional>

#include "Error.h"
#include "ZZInputStream.h"

// A sink of bytes written in chunks: write answers the count consumed or -1 on
// an error, which streamError then describes.
class ZZOutputStream
{
public:
    virtual ~ZZOutputStream() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual std::int64_t write(const std::uint8_t *buffer, std::uint64_t maxLength) = 0;
    virtual ZZStreamStatus streamStatus() const = 0;
    virtual std::optional<Error> streamError() const = 0;

    bool hasSpaceAvailable() const;
};
