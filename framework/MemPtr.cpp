#include "MemPtr.h"

#include <cstdlib>
#include <new>

MemPtr::MemPtr(const std::uint8_t *address, std::int64_t countOfBytesWritten)
    : m_address(address)
    , m_countOfBytesWritten(countOfBytesWritten)
{
}

MemPtr MemPtr::startingAt(const MemPtr &other)
{
    return MemPtr(other.m_address, other.m_countOfBytesWritten);
}

MemPtr MemPtr::calloc(std::int64_t size)
{
    if (size < 0)
        throw std::bad_alloc();
    // A zero-byte request still gets a block of its own, so the cursor is never null.
    void *block = std::calloc(size > 0 ? static_cast<std::size_t>(size) : 1, 1);
    if (!block)
        throw std::bad_alloc();
    return MemPtr(static_cast<const std::uint8_t *>(block));
}

void *MemPtr::asUnsafeMutableRawPointer() const
{
    return const_cast<std::uint8_t *>(m_address);
}

MemPtr MemPtr::advance() const
{
    return advance(m_sizeOfLastValueAsType);
}

MemPtr MemPtr::advance(std::int64_t count) const
{
    return MemPtr(m_address + count, m_countOfBytesWritten);
}
