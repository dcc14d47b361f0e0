#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "MemPtr.h"

TEST(MemPtr, ReadsAtOddAddressesAndMovesByTheLastSize)
{
    // Values one byte past an aligned start: reads must not assume alignment.
    alignas(8) const std::uint8_t buffer[16] = {0xFF, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF};
    MemPtr cursor(buffer + 1, 13);
    EXPECT_EQ(cursor.valueAs<std::uint32_t>(), 0x12345678u);
    const MemPtr next = cursor.advance();
    EXPECT_EQ(next.address(), buffer + 5);
    EXPECT_EQ(next.advance().address(), buffer + 5) << "a second advance moves nothing";
    EXPECT_EQ(cursor.address(), buffer + 1) << "moves leave the receiver unchanged";
    EXPECT_EQ(MemPtr(next).valueAs<std::int32_t>(), -2);
    EXPECT_EQ(cursor.advance(3).address(), buffer + 4);
    EXPECT_EQ(cursor.advance(3).bytesWrittenSinceInitialInit(), 13);

    const MemPtr restarted = MemPtr::startingAt(cursor);
    EXPECT_EQ(restarted.address(), cursor.address());
    EXPECT_EQ(restarted.sizeOfLastValueAsType(), 0);
}

TEST(MemPtr, CallocGivesZeroedBlockOrThrows)
{
    MemPtr block = MemPtr::calloc(510);
    EXPECT_EQ(block.countOfBytesWritten(), 0);
    EXPECT_EQ(block.advance(509).valueAs<std::uint8_t>(), 0);
    std::free(block.asUnsafeMutableRawPointer());

    EXPECT_THROW(MemPtr::calloc(-1), std::bad_alloc);
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer aborts on impossible sizes instead of failing the allocation.
    EXPECT_THROW(MemPtr::calloc(INT64_MAX), std::bad_alloc);
#endif
}
