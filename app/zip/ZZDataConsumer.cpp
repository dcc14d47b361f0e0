#include "ZZDataConsumer.h"

ZZDataConsumer::ZZDataConsumer(ZZOutputStream &stream)
    : m_stream(stream)
{
}

std::int64_t ZZDataConsumer::putBytes(const void *buffer, std::uint64_t count)
{
    return m_stream.write(static_cast<const std::uint8_t *>(buffer), count);
}
