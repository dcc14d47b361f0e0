#include <gtest/gtest.h>

#include "StringExtensions.h"

namespace
{
// "é" as e + combining acute accent, a flag (two regional indicators) and a family emoji (ZWJ sequence).
const std::string decomposedE = "e\xCC\x81";
const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
}

TEST(StringExtensions, UTF8DataRejectsInvalidBytes)
{
    EXPECT_EQ(utf8Data("h\xC3\xA9"), (Data{'h', 0xC3, 0xA9}));
    EXPECT_EQ(utf8Data("cut \xC3"), std::nullopt);
    EXPECT_EQ(utf8Data("overlong \xC0\xAF"), std::nullopt);
    EXPECT_EQ(utf8Data("surrogate \xED\xA0\x80"), std::nullopt);
    EXPECT_EQ(UTF8PtrToString("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(UTF8PtrToString("\xFF\xFE"), std::nullopt);
    EXPECT_EQ(UTF8PtrToString(nullptr), std::nullopt);
}

TEST(StringExtensions, CharacterOperationsCountWhatTheUserSees)
{
    const std::string text = decomposedE + flag + family + "x";
    EXPECT_EQ(substringFrom(text, 0), text);
    EXPECT_EQ(substringFrom(text, -3), text);
    EXPECT_EQ(substringFrom(text, 2), family + "x");
    EXPECT_EQ(substringFrom(text, 4), "");
    EXPECT_EQ(substringFrom(text, 5), "");

    EXPECT_EQ(replaceRangeWithRepeatedCharacter(text, 0, 3, "*"), "***x");
    EXPECT_EQ(replaceRangeWithRepeatedCharacter("abc", 2, 10, "\xE2\x80\xA2"), "ab\xE2\x80\xA2");
    EXPECT_EQ(replaceRangeWithRepeatedCharacter("", 0, 3, "-"), "");
}

TEST(StringExtensions, DropPrefixAndSuffixOnlyWhole)
{
    EXPECT_EQ(dropPrefix("abc", "ab"), "c");
    EXPECT_EQ(dropPrefix("xabc", "ab"), "xabc");
    EXPECT_EQ(dropPrefix("abc", ""), "abc");
    EXPECT_EQ(dropPrefix("ab", "abc"), "ab");
    // "e" is not the first character of "é".
    EXPECT_EQ(dropPrefix(decomposedE + "x", "e"), decomposedE + "x");

    EXPECT_EQ(dropSuffix("abc", "bc"), "a");
    EXPECT_EQ(dropSuffix("abcx", "bc"), "abcx");
    EXPECT_EQ(dropSuffix("x" + decomposedE, "\xCC\x81"), "x" + decomposedE);
    EXPECT_EQ(dropSuffix("x" + flag, flag), "x");

    // Between plain characters a carriage return keeps its line feed, and nothing else is kept.
    EXPECT_EQ(dropPrefix("a\r\nb", "a\r"), "a\r\nb");
    EXPECT_EQ(dropSuffix("a\r\nb", "\nb"), "a\r\nb");
    EXPECT_EQ(dropPrefix("a\n\rb", "a\n"), "\rb");
    EXPECT_EQ(dropPrefix("/Docs/a\xCC\x81" "b", "/Docs/a"), "/Docs/a\xCC\x81" "b");
    EXPECT_EQ(dropPrefix("/Docs/\xCC\x81" "b", "/Docs/"), "/Docs/\xCC\x81" "b") << "a combining mark joins the slash";
}

TEST(StringExtensions, TupleOfInt8sStopsAtZeroOrHighByte)
{
    const std::int8_t hfs[16] = {'h', 'f', 's'};
    EXPECT_EQ(TupleOfInt8sToString(hfs, sizeof hfs), "hfs");
    const std::int8_t leadingZero[4] = {0, 'a', 'b', 0};
    EXPECT_EQ(TupleOfInt8sToString(leadingZero, sizeof leadingZero), std::nullopt);
    const std::int8_t highByte[4] = {'a', 'b', static_cast<std::int8_t>(0xC3), 'c'};
    EXPECT_EQ(TupleOfInt8sToString(highByte, sizeof highByte), "ab");
    const std::int8_t full[3] = {'x', 'y', 'z'};
    EXPECT_EQ(TupleOfInt8sToString(full, sizeof full), "xyz");
}
