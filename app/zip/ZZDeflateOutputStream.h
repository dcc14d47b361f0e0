#pragma once

#include <zlib.h>

#include "ZZChannelOutput.h"
#include "ZZOutputStream.h"

// Deflates what is written (raw deflate) into a channel output.
class ZZDeflateOutputStream : public ZZOutputStream
{
public:
    ZZDeflateOutputStream(ZZChannelOutput &channelOutput, std::int64_t compressionLevel);
    ~ZZDeflateOutputStream() override;
    ZZDeflateOutputStream(const ZZDeflateOutputStream &) = delete;
    ZZDeflateOutputStream &operator=(const ZZDeflateOutputStream &) = delete;

    void open() override;
    void close() override;
    std::int64_t write(const std::uint8_t *buffer, std::uint64_t maxLength) override;
    ZZStreamStatus streamStatus() const override;
    std::optional<Error> streamError() const override;

    std::uint32_t crc32() const;
    std::uint64_t compressedSize() const;
    std::uint64_t uncompressedSize() const;

private:
    std::int64_t fail(Error error);

    ZZChannelOutput &m_channelOutput;
    std::int64_t m_compressionLevel;
    ZZStreamStatus m_status = ZZStreamStatusNotOpen;
    std::optional<Error> m_error;
    std::uint32_t m_crc32 = 0;
    z_stream m_stream {};
    bool m_isDeflating = false;
};
