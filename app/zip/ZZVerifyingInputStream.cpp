#include "ZZVerifyingInputStream.h"

#include <zlib.h>

#include "ZZError.h"

ZZVerifyingInputStream::ZZVerifyingInputStream(std::unique_ptr<ZZInputStream> upstream, std::uint64_t expectedSize,
                                               std::optional<std::uint32_t> expectedCRC32)
    : m_upstream(std::move(upstream)), m_expectedSize(expectedSize), m_expectedCRC32(expectedCRC32)
{
}

void ZZVerifyingInputStream::open()
{
    m_upstream->open();
    m_status = ZZStreamStatusOpen;
}

void ZZVerifyingInputStream::close()
{
    m_upstream->close();
    m_status = ZZStreamStatusClosed;
}

std::int64_t ZZVerifyingInputStream::read(std::uint8_t *buffer, std::uint64_t maxLength)
{
    if (m_status == ZZStreamStatusError)
        return -1;
    if (m_status != ZZStreamStatusOpen)
        return 0;
    if (maxLength == 0)
        return 0;
    const std::int64_t count = m_upstream->read(buffer, maxLength);
    if (count < 0)
        return fail(m_upstream->streamError().value_or(zzError(ZZInvalidCRChecksum)));
    if (count == 0) {
        if (m_size != m_expectedSize || (m_expectedCRC32 && *m_expectedCRC32 != m_crc32))
            return fail(zzError(ZZInvalidCRChecksum));
        m_status = ZZStreamStatusAtEnd;
        return 0;
    }
    m_size += static_cast<std::uint64_t>(count);
    if (m_size > m_expectedSize)
        return fail(zzError(ZZInvalidCRChecksum));
    m_crc32 = static_cast<std::uint32_t>(crc32_z(m_crc32, buffer, static_cast<z_size_t>(count)));
    // A reader that stops once it has the expected size still gets checked data.
    if (m_size == m_expectedSize && m_expectedCRC32 && *m_expectedCRC32 != m_crc32)
        return fail(zzError(ZZInvalidCRChecksum));
    return count;
}

ZZStreamStatus ZZVerifyingInputStream::streamStatus() const
{
    return m_status;
}

std::optional<Error> ZZVerifyingInputStream::streamError() const
{
    return m_error;
}

std::int64_t ZZVerifyingInputStream::fail(Error error)
{
    m_status = ZZStreamStatusError;
    m_error = std::move(error);
    return -1;
}
