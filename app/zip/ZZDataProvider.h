#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Value.h"
#include "ZZInputStream.h"

// A source of an entry's bytes for image and document readers: either direct
// over a copy of the bytes, or sequential over a stream made when first needed.
class ZZDataProvider
{
public:
    using StreamMaker = std::function<std::unique_ptr<ZZInputStream>()>;

    static std::unique_ptr<ZZDataProvider> directWithData(Data data);
    static std::unique_ptr<ZZDataProvider> sequentialWithStream(StreamMaker makeStream);
    ~ZZDataProvider();
    ZZDataProvider(const ZZDataProvider &) = delete;
    ZZDataProvider &operator=(const ZZDataProvider &) = delete;

    // The count of bytes read into the buffer; fewer than asked at the end or on an error.
    std::uint64_t getBytes(void *buffer, std::uint64_t count);
    // The count of bytes skipped.
    std::int64_t skipForward(std::int64_t count);
    void rewind();
    // The error that stopped the last read, if any.
    std::optional<Error> error() const;

private:
    ZZDataProvider() = default;
    ZZInputStream *stream();

    std::optional<Data> m_data;
    std::uint64_t m_position = 0;
    StreamMaker m_makeStream;
    std::unique_ptr<ZZInputStream> m_stream;
    std::optional<Error> m_error;
};
