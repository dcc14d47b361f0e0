#include "ZZDataChannelOutput.h"

#include <cstring>

ZZDataChannelOutput::ZZDataChannelOutput(std::shared_ptr<ZZDataChannel::Storage> storage)
    : m_allData(std::move(storage))
{
}

std::uint64_t ZZDataChannelOutput::offset() const
{
    return m_offset;
}

bool ZZDataChannelOutput::seekToOffset(std::uint64_t offset, Error *)
{
    m_offset = offset;
    return true;
}

bool ZZDataChannelOutput::writeData(const ZZBytes &data, Error *)
{
    if (data.size == 0)
        return true;
    Data &buffer = ownBuffer();
    if (m_offset == buffer.size()) {
        buffer.insert(buffer.end(), data.data, data.data + data.size);
    } else {
        if (buffer.size() < m_offset + data.size)
            buffer.resize(m_offset + data.size);
        std::memcpy(buffer.data() + m_offset, data.data, data.size);
    }
    m_offset += data.size;
    return true;
}

bool ZZDataChannelOutput::truncateAtOffset(std::uint64_t offset, Error *)
{
    ownBuffer().resize(offset);
    return true;
}

bool ZZDataChannelOutput::close(Error *)
{
    return true;
}

Data &ZZDataChannelOutput::ownBuffer()
{
    std::shared_ptr<Data> &buffer = m_allData->allData;
    if (buffer.use_count() > 1)
        buffer = std::make_shared<Data>(*buffer);
    return *buffer;
}
