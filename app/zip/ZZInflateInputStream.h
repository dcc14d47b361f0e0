#pragma once

#include <memory>
#include <vector>
#include <zlib.h>

#include "Value.h"
#include "ZZBytes.h"
#include "ZZInputStream.h"

// Inflates a raw deflate stream read from its upstream. Damaged or truncated
// deflate data ends the stream with an error (code 11), never with silence.
class ZZInflateInputStream : public ZZInputStream
{
public:
    explicit ZZInflateInputStream(std::unique_ptr<ZZInputStream> upstream);
    ~ZZInflateInputStream() override;
    ZZInflateInputStream(const ZZInflateInputStream &) = delete;
    ZZInflateInputStream &operator=(const ZZInflateInputStream &) = delete;

    // One-shot inflation; none unless the deflate stream ends exactly at the given size.
    static std::optional<Data> decompressData(const ZZBytes &data, std::uint64_t uncompressedSize);

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t *buffer, std::uint64_t maxLength) override;
    ZZStreamStatus streamStatus() const override;
    std::optional<Error> streamError() const override;

private:
    std::int64_t fail(Error error);

    std::unique_ptr<ZZInputStream> m_upstream;
    std::vector<std::uint8_t> m_readBuffer;
    ZZStreamStatus m_status = ZZStreamStatusNotOpen;
    std::optional<Error> m_error;
    z_stream m_stream {};
    bool m_isInflating = false;
    bool m_upstreamAtEnd = false;
};
