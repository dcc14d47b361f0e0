#include "ZZDeflateOutputStream.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "ZZError.h"

ZZDeflateOutputStream::ZZDeflateOutputStream(ZZChannelOutput &channelOutput, std::int64_t compressionLevel)
    : m_channelOutput(channelOutput), m_compressionLevel(compressionLevel)
{
}

ZZDeflateOutputStream::~ZZDeflateOutputStream()
{
    if (m_isDeflating)
        deflateEnd(&m_stream);
}

void ZZDeflateOutputStream::open()
{
    const int level = m_compressionLevel >= -1 && m_compressionLevel <= 9 ? static_cast<int>(m_compressionLevel)
                                                                          : Z_DEFAULT_COMPRESSION;
    m_stream = z_stream {};
    if (deflateInit2(&m_stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        fail(Error::posix(ENOMEM));
        return;
    }
    m_isDeflating = true;
    m_status = ZZStreamStatusOpen;
}

std::int64_t ZZDeflateOutputStream::write(const std::uint8_t *buffer, std::uint64_t maxLength)
{
    if (m_status != ZZStreamStatusOpen)
        return -1;
    const uInt length = static_cast<uInt>(std::min<std::uint64_t>(maxLength, UINT_MAX / 2));
    std::vector<std::uint8_t> output(deflateBound(&m_stream, length));
    m_stream.next_in = const_cast<Bytef *>(buffer);
    m_stream.avail_in = length;
    m_stream.next_out = output.data();
    m_stream.avail_out = static_cast<uInt>(output.size());
    if (deflate(&m_stream, Z_NO_FLUSH) == Z_STREAM_ERROR)
        return fail(Error::posix(EINVAL));
    const std::uint64_t produced = output.size() - m_stream.avail_out;
    Error error;
    if (produced > 0 && !m_channelOutput.writeData(output.data(), produced, &error))
        return fail(error);
    const uInt consumed = length - m_stream.avail_in;
    m_crc32 = static_cast<std::uint32_t>(::crc32(m_crc32, buffer, consumed));
    return consumed;
}

void ZZDeflateOutputStream::close()
{
    if (m_isDeflating) {
        std::uint8_t output[1024];
        int result = Z_OK;
        do {
            m_stream.next_in = nullptr;
            m_stream.avail_in = 0;
            m_stream.next_out = output;
            m_stream.avail_out = sizeof output;
            result = deflate(&m_stream, Z_FINISH);
            const std::uint64_t produced = sizeof output - m_stream.avail_out;
            Error error;
            if (m_status == ZZStreamStatusOpen && produced > 0 && !m_channelOutput.writeData(output, produced, &error))
                fail(error);
        } while (result == Z_OK || (result == Z_BUF_ERROR && m_stream.avail_out == 0));
        deflateEnd(&m_stream);
        m_isDeflating = false;
    }
    if (m_status != ZZStreamStatusError)
        m_status = ZZStreamStatusClosed;
}

ZZStreamStatus ZZDeflateOutputStream::streamStatus() const
{
    return m_status;
}

std::optional<Error> ZZDeflateOutputStream::streamError() const
{
    return m_error;
}

std::uint32_t ZZDeflateOutputStream::crc32() const
{
    return m_crc32;
}

std::uint64_t ZZDeflateOutputStream::compressedSize() const
{
    return m_stream.total_out;
}

std::uint64_t ZZDeflateOutputStream::uncompressedSize() const
{
    return m_stream.total_in;
}

std::int64_t ZZDeflateOutputStream::fail(Error error)
{
    m_status = ZZStreamStatusError;
    m_error = std::move(error);
    return -1;
}
