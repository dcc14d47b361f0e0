#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "TallowExport.h"

// A cursor over a byte buffer, for walking packed records such as directory
// listings. Reads copy the bytes out, so the cursor may sit at any alignment.
// The moves return a new cursor and leave this one unchanged.
class TALLOW_EXPORT MemPtr
{
public:
    explicit MemPtr(const std::uint8_t *address, std::int64_t countOfBytesWritten = 0);

    // A cursor at other's position with other's count and no last value size.
    static MemPtr startingAt(const MemPtr &other);

    // A new zero-filled block of size bytes (release it with std::free on
    // asUnsafeMutableRawPointer()); throws std::bad_alloc when it cannot be had.
    static MemPtr calloc(std::int64_t size);

    const std::uint8_t *address() const { return m_address; }
    std::int64_t sizeOfLastValueAsType() const { return m_sizeOfLastValueAsType; }
    std::int64_t countOfBytesWritten() const { return m_countOfBytesWritten; }
    std::int64_t bytesWrittenSinceInitialInit() const { return m_countOfBytesWritten; }
    void *asUnsafeMutableRawPointer() const;

    // A copy of the T stored at the cursor; remembers sizeof(T) for advance().
    template <typename T>
    T valueAs()
    {
        static_assert(std::is_trivially_copyable_v<T>, "only plain data can be read from raw bytes");
        std::array<std::byte, sizeof(T)> bytes;
        std::memcpy(bytes.data(), m_address, sizeof(T));
        m_sizeOfLastValueAsType = static_cast<std::int64_t>(sizeof(T));
        return std::bit_cast<T>(bytes);
    }

    // A cursor past the last value read (at the same place when none was read since the last move).
    MemPtr advance() const;
    // A cursor count bytes further on.
    MemPtr advance(std::int64_t count) const;

private:
    const std::uint8_t *m_address;
    std::int64_t m_sizeOfLastValueAsType = 0;
    std::int64_t m_countOfBytesWritten;
};
