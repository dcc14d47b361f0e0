#include "ZZMemoryInputStream.h"

#include <algorithm>
#include <cstring>

ZZMemoryInputStream::ZZMemoryInputStream(ZZBytes bytes)
    : m_bytes(std::move(bytes))
{
}

void ZZMemoryInputStream::open()
{
    m_status = ZZStreamStatusOpen;
}

void ZZMemoryInputStream::close()
{
    m_status = ZZStreamStatusClosed;
}

std::int64_t ZZMemoryInputStream::read(std::uint8_t *buffer, std::uint64_t maxLength)
{
    if (m_status != ZZStreamStatusOpen)
        return m_status == ZZStreamStatusAtEnd ? 0 : -1;
    const std::uint64_t count = std::min<std::uint64_t>({maxLength, m_bytes.size - m_position, INT64_MAX});
    if (count == 0) {
        m_status = ZZStreamStatusAtEnd;
        return 0;
    }
    std::memcpy(buffer, m_bytes.data + m_position, count);
    m_position += count;
    return static_cast<std::int64_t>(count);
}

ZZStreamStatus ZZMemoryInputStream::streamStatus() const
{
    return m_status;
}

std::optional<Error> ZZMemoryInputStream::streamError() const
{
    return std::nullopt;
}
