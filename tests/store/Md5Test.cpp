#include "Md5.h"

#include <gtest/gtest.h>

TEST(Md5, DigestsAreLowerCaseHexOfTheUtf8Bytes)
{
    EXPECT_EQ(md5(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5("foo"), "acbd18db4cc2f85cedef654fccc4a4d8");
    EXPECT_EQ(md5("\xc3\xa9"), "66ddcd97cfdeabb2f6fb8a999b4bc76f");
    EXPECT_EQ(md5("node_modules").size(), 32u);
}

TEST(Md5, AnEmbeddedNulEndsWhatIsHashed)
{
    EXPECT_EQ(md5(std::string("foo\0bar", 7)), md5("foo"));
}
