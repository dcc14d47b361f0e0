#pragma once

#include "ZZChannelOutput.h"
#include "ZZOutputStream.h"

// Writes what is written unchanged into a channel output, counting and summing it.
class ZZStoreOutputStream : public ZZOutputStream
{
public:
    explicit ZZStoreOutputStream(ZZChannelOutput &channelOutput);

    void open() override;
    void close() override;
    std::int64_t write(const std::uint8_t *buffer, std::uint64_t maxLength) override;
    ZZStreamStatus streamStatus() const override;
    std::optional<Error> streamError() const override;

    std::uint32_t crc32() const;
    std::uint64_t size() const;

private:
    ZZChannelOutput &m_channelOutput;
    ZZStreamStatus m_status = ZZStreamStatusNotOpen;
    std::optional<Error> m_error;
    std::uint32_t m_crc32 = 0;
    std::uint64_t m_size = 0;
};
