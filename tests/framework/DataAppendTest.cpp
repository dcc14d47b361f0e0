#include <gtest/gtest.h>

#include "DataAppend.h"

TEST(DataAppend, LittleEndianBytesAppended)
{
    Data data{0xAA};
    appendUInt16(data, 258);
    EXPECT_EQ(data, (Data{0xAA, 2, 1}));
    appendUInt32(data, 0x04030201);
    appendUInt8(data, 0xFF);
    EXPECT_EQ(data, (Data{0xAA, 2, 1, 1, 2, 3, 4, 0xFF}));
}
