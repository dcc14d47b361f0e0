#include "ZZStoreOutputStream.h"

#include <algorithm>
#include <zlib.h>

ZZStoreOutputStream::ZZStoreOutputStream(ZZChannelOutput &channelOutput)
    : m_channelOutput(channelOutput)
{
}

void ZZStoreOutputStream::open()
{
    m_status = ZZStreamStatusOpen;
}

void ZZStoreOutputStream::close()
{
    if (m_status != ZZStreamStatusError)
        m_status = ZZStreamStatusClosed;
}

std::int64_t ZZStoreOutputStream::write(const std::uint8_t *buffer, std::uint64_t maxLength)
{
    if (m_status != ZZStreamStatusOpen)
        return -1;
    const std::uint64_t length = std::min<std::uint64_t>(maxLength, INT64_MAX);
    Error error;
    if (!m_channelOutput.writeData(buffer, length, &error)) {
        m_status = ZZStreamStatusError;
        m_error = error;
        return -1;
    }
    m_crc32 = static_cast<std::uint32_t>(crc32_z(m_crc32, buffer, static_cast<z_size_t>(length)));
    m_size += length;
    return static_cast<std::int64_t>(length);
}

ZZStreamStatus ZZStoreOutputStream::streamStatus() const
{
    return m_status;
}

std::optional<Error> ZZStoreOutputStream::streamError() const
{
    return m_error;
}

std::uint32_t ZZStoreOutputStream::crc32() const
{
    return m_crc32;
}

std::uint64_t ZZStoreOutputStream::size() const
{
    return m_size;
}
