#pragma once

#include "ZZBytes.h"
#include "ZZInputStream.h"

// Reads a view of bytes.
class ZZMemoryInputStream : public ZZInputStream
{
public:
    explicit ZZMemoryInputStream(ZZBytes bytes);

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t *buffer, std::uint64_t maxLength) override;
    ZZStreamStatus streamStatus() const override;
    std::optional<Error> streamError() const override;

private:
    ZZBytes m_bytes;
    std::uint64_t m_position = 0;
    ZZStreamStatus m_status = ZZStreamStatusNotOpen;
};
