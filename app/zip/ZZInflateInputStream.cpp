#include "ZZInflateInputStream.h"

#include <algorithm>
#include <climits>

#include "ZZError.h"

namespace
{
constexpr std::size_t readBufferSize = 16384;
}

ZZInflateInputStream::ZZInflateInputStream(std::unique_ptr<ZZInputStream> upstream)
    : m_upstream(std::move(upstream)), m_readBuffer(readBufferSize)
{
}

ZZInflateInputStream::~ZZInflateInputStream()
{
    if (m_isInflating)
        inflateEnd(&m_stream);
}

std::optional<Data> ZZInflateInputStream::decompressData(const ZZBytes &data, std::uint64_t uncompressedSize)
{
    if (data.size > UINT_MAX || uncompressedSize > UINT_MAX)
        return std::nullopt;
    Data output(uncompressedSize);
    z_stream stream {};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return std::nullopt;
    // An empty output still needs a valid pointer for zlib.
    std::uint8_t spare = 0;
    stream.next_in = const_cast<Bytef *>(data.data);
    stream.avail_in = static_cast<uInt>(data.size);
    stream.next_out = output.empty() ? &spare : output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    if (result != Z_STREAM_END || stream.total_out != uncompressedSize)
        return std::nullopt;
    return output;
}

void ZZInflateInputStream::open()
{
    m_upstream->open();
    m_status = ZZStreamStatusOpen;
    m_stream = z_stream {};
    if (inflateInit2(&m_stream, -MAX_WBITS) == Z_OK)
        m_isInflating = true;
    else
        fail(zzError(ZZInvalidCRChecksum));
}

void ZZInflateInputStream::close()
{
    if (m_isInflating)
        inflateEnd(&m_stream);
    m_isInflating = false;
    m_upstream->close();
    m_status = ZZStreamStatusClosed;
}

std::int64_t ZZInflateInputStream::read(std::uint8_t *buffer, std::uint64_t maxLength)
{
    if (m_status == ZZStreamStatusError)
        return -1;
    if (m_status != ZZStreamStatusOpen || maxLength == 0)
        return 0;
    m_stream.next_out = buffer;
    m_stream.avail_out = static_cast<uInt>(std::min<std::uint64_t>(maxLength, UINT_MAX));
    const uInt wanted = m_stream.avail_out;
    while (m_stream.avail_out == wanted) {
        if (m_stream.avail_in == 0 && !m_upstreamAtEnd) {
            const ZZStreamStatus upstreamStatus = m_upstream->streamStatus();
            if (upstreamStatus == ZZStreamStatusOpening || upstreamStatus == ZZStreamStatusOpen) {
                const std::int64_t count = m_upstream->read(m_readBuffer.data(), m_readBuffer.size());
                if (count < 0)
                    return fail(m_upstream->streamError().value_or(zzError(ZZInvalidCRChecksum)));
                m_upstreamAtEnd = count == 0;
                m_stream.next_in = m_readBuffer.data();
                m_stream.avail_in = static_cast<uInt>(count);
            } else {
                m_upstreamAtEnd = true;
            }
        }
        const int result = inflate(&m_stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            // Read the upstream to its end so that a decrypting stream below checks its authentication code.
            while (!m_upstreamAtEnd) {
                const std::int64_t count = m_upstream->read(m_readBuffer.data(), m_readBuffer.size());
                if (count < 0)
                    return fail(m_upstream->streamError().value_or(zzError(ZZInvalidCRChecksum)));
                m_upstreamAtEnd = count == 0;
            }
            m_status = ZZStreamStatusAtEnd;
            break;
        }
        if (result == Z_BUF_ERROR && m_upstreamAtEnd && m_stream.avail_in == 0) {
            // The deflate data ended before its end marker.
            if (m_stream.avail_out != wanted)
                break;
            return fail(zzError(ZZInvalidCRChecksum));
        }
        if (result != Z_OK && result != Z_BUF_ERROR)
            return fail(zzError(ZZInvalidCRChecksum));
    }
    return static_cast<std::int64_t>(wanted - m_stream.avail_out);
}

ZZStreamStatus ZZInflateInputStream::streamStatus() const
{
    return m_status;
}

std::optional<Error> ZZInflateInputStream::streamError() const
{
    return m_error;
}

std::int64_t ZZInflateInputStream::fail(Error error)
{
    m_status = ZZStreamStatusError;
    m_error = std::move(error);
    return -1;
}
