#pragma once

#include <cstdint>

#include "ZZOutputStream.h"

// A sink for document and image writers that puts its bytes into an output stream.
class ZZDataConsumer
{
public:
    explicit ZZDataConsumer(ZZOutputStream &stream);

    // The stream's result: the count written, or -1.
    std::int64_t putBytes(const void *buffer, std::uint64_t count);

private:
    ZZOutputStream &m_stream;
};
