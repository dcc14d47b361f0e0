#include "ZZDataProvider.h"

#include <algorithm>
#include <cstring>

std::unique_ptr<ZZDataProvider> ZZDataProvider::directWithData(Data data)
{
    std::unique_ptr<ZZDataProvider> provider(new ZZDataProvider);
    provider->m_data = std::move(data);
    return provider;
}

std::unique_ptr<ZZDataProvider> ZZDataProvider::sequentialWithStream(StreamMaker makeStream)
{
    std::unique_ptr<ZZDataProvider> provider(new ZZDataProvider);
    provider->m_makeStream = std::move(makeStream);
    return provider;
}

ZZDataProvider::~ZZDataProvider()
{
    if (m_stream)
        m_stream->close();
}

ZZInputStream *ZZDataProvider::stream()
{
    if (!m_stream && m_makeStream) {
        m_stream = m_makeStream();
        if (m_stream)
            m_stream->open();
    }
    return m_stream.get();
}

std::uint64_t ZZDataProvider::getBytes(void *buffer, std::uint64_t count)
{
    auto *bytes = static_cast<std::uint8_t *>(buffer);
    if (m_data) {
        const std::uint64_t available = std::min<std::uint64_t>(count, m_data->size() - m_position);
        if (available > 0)
            std::memcpy(bytes, m_data->data() + m_position, available);
        m_position += available;
        return available;
    }
    ZZInputStream *input = stream();
    if (!input)
        return 0;
    std::uint64_t total = 0;
    while (total < count) {
        const std::int64_t read = input->read(bytes + total, count - total);
        if (read < 0)
            m_error = input->streamError();
        if (read <= 0)
            break;
        total += static_cast<std::uint64_t>(read);
    }
    return total;
}

std::int64_t ZZDataProvider::skipForward(std::int64_t count)
{
    if (count <= 0)
        return 0;
    if (m_data) {
        const std::uint64_t skipped = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), m_data->size() - m_position);
        m_position += skipped;
        return static_cast<std::int64_t>(skipped);
    }
    std::uint8_t scratch[1024];
    std::int64_t skipped = 0;
    while (skipped < count) {
        const std::uint64_t wanted = std::min<std::uint64_t>(sizeof scratch, static_cast<std::uint64_t>(count - skipped));
        const std::uint64_t read = getBytes(scratch, wanted);
        skipped += static_cast<std::int64_t>(read);
        if (read < wanted)
            break;
    }
    return skipped;
}

void ZZDataProvider::rewind()
{
    m_position = 0;
    if (m_stream)
        m_stream->close();
    m_stream.reset();
    m_error.reset();
}

std::optional<Error> ZZDataProvider::error() const
{
    return m_error;
}
