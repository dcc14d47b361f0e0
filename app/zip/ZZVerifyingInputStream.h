#pragma once

#include <memory>

#include "ZZInputStream.h"

// Passes an entry's uncompressed data through and, at its end, checks its length
// and (where the format carries one) its CRC-32; a mismatch is error code 11.
class ZZVerifyingInputStream : public ZZInputStream
{
public:
    ZZVerifyingInputStream(std::unique_ptr<ZZInputStream> upstream, std::uint64_t expectedSize,
                           std::optional<std::uint32_t> expectedCRC32);

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t *buffer, std::uint64_t maxLength) override;
    ZZStreamStatus streamStatus() const override;
    std::optional<Error> streamError() const override;

private:
    std::int64_t fail(Error error);

    std::unique_ptr<ZZInputStream> m_upstream;
    std::uint64_t m_expectedSize;
    std::optional<std::uint32_t> m_expectedCRC32;
    std::uint64_t m_size = 0;
    std::uint32_t m_crc32 = 0;
    ZZStreamStatus m_status = ZZStreamStatusNotOpen;
    std::optional<Error> m_error;
};
