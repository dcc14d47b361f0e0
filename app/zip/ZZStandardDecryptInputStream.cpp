#include "ZZStandardDecryptInputStream.h"

#include "ZZError.h"

ZZStandardDecryptInputStream::ZZStandardDecryptInputStream(std::unique_ptr<ZZInputStream> upstream)
    : m_upstream(std::move(upstream))
{
}

std::unique_ptr<ZZStandardDecryptInputStream> ZZStandardDecryptInputStream::create(
    std::unique_ptr<ZZInputStream> upstream, const std::string &password, const std::uint8_t *header,
    std::uint16_t check, std::uint8_t version, Error *error)
{
    std::unique_ptr<ZZStandardDecryptInputStream> stream(new ZZStandardDecryptInputStream(std::move(upstream)));
    stream->m_crypto.initKeys(password);
    std::uint8_t plain[12];
    for (int i = 0; i < 12; ++i)
        plain[i] = stream->m_crypto.decrypt(header[i]);
    const bool matches = plain[11] == (check >> 8) && (version > 19 || plain[10] == (check & 0xFF));
    if (!matches) {
        zzFail(error, zzError(ZZWrongPassword));
        return nullptr;
    }
    return stream;
}

void ZZStandardDecryptInputStream::open()
{
    m_upstream->open();
    m_status = ZZStreamStatusOpen;
}

void ZZStandardDecryptInputStream::close()
{
    m_upstream->close();
    m_status = ZZStreamStatusClosed;
}

std::int64_t ZZStandardDecryptInputStream::read(std::uint8_t *buffer, std::uint64_t maxLength)
{
    const std::int64_t count = m_upstream->read(buffer, maxLength);
    for (std::int64_t i = 0; i < count; ++i)
        buffer[i] = m_crypto.decrypt(buffer[i]);
    if (count < 0)
        m_status = ZZStreamStatusError;
    return count;
}

ZZStreamStatus ZZStandardDecryptInputStream::streamStatus() const
{
    return m_status == ZZStreamStatusOpen ? m_upstream->streamStatus() : m_status;
}

std::optional<Error> ZZStandardDecryptInputStream::streamError() const
{
    return m_upstream->streamError();
}
