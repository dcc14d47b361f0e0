#include <gtest/gtest.h>
#include <plist/plist.h>

#include <climits>
#include <cstdlib>

#include "Error.h"
#include "PropertyList.h"

namespace
{
// Binary files are made with libplist's own writer, as any other producer would make them.
std::string binaryFromTree(plist_t root)
{
    char *bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    std::string binary(bytes, length);
    std::free(bytes);
    plist_free(root);
    return binary;
}

std::string binaryFromXML(const std::string &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &root);
    if (!root)
        throw std::runtime_error("libplist could not read the XML");
    return binaryFromTree(root);
}

std::string xmlDocument(const std::string &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>\n";
}

constexpr double referenceDate = 978307200; // 2001-01-01T00:00:00Z in seconds since 1970

std::int64_t errorCodeOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Error &error) {
        EXPECT_EQ(error.domain(), PropertyList::ErrorDomain);
        return error.code();
    }
    return 0;
}
}

TEST(PropertyList, EveryValueTypeRoundTripsThroughXMLAndBinary)
{
    Data allBytes;
    for (int byte = 0; byte < 256; ++byte)
        allBytes.push_back(static_cast<std::uint8_t>(byte));
    const Value original(Dictionary{
        {"booleans", Value(Array{Value(true), Value(false)})},
        {"integers", Value(Array{Value(0), Value(-5), Value(static_cast<long long>(LLONG_MIN)), Value(static_cast<long long>(LLONG_MAX))})},
        {"reals", Value(Array{Value(1.5), Value(-2.25e-300)})},
        {"strings", Value(Array{Value("Größe ✓ <&> \"q\""), Value("")})},
        {"data", Value(Array{Value(allBytes), Value(Data{})})},
        {"dates", Value(Array{Value(Date{referenceDate - 347155200}), Value(Date{referenceDate}), Value(Date{referenceDate + 915148817})})},
        {"", Value(Dictionary{{"empty", Value(Array{})}, {"nested", Value(Dictionary{{"deep", Value(Array{Value("x")})}})}})},
    });
    const std::string xml = PropertyList::toXML(original);
    EXPECT_EQ(PropertyList::parse(xml), original);
    const std::string binary = binaryFromXML(xml);
    ASSERT_TRUE(binary.starts_with("bplist00"));
    EXPECT_EQ(PropertyList::parse(binary), original);
}

TEST(PropertyList, DatesCountFromTheReferenceDate)
{
    const std::string xml = PropertyList::toXML(Value(Array{Value(-5), Value(Date{referenceDate}), Value(Date{0})}));
    EXPECT_NE(xml.find("<integer>-5</integer>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<date>2001-01-01T00:00:00Z</date>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<date>1970-01-01T00:00:00Z</date>"), std::string::npos) << xml;
    // Beyond the 32-bit seconds libplist hands out.
    EXPECT_EQ(PropertyList::parse(xmlDocument("<date>2200-01-01T00:00:00Z</date>")), Value(Date{7258118400}));

    // Binary files keep fractions, also within the second before 2001.
    plist_t array = plist_new_array();
    const auto append = plist_array_append_item;
    const auto newDate = plist_new_date;
    append(array, newDate(-1, 500000));
    append(array, newDate(0, 500000));
    append(array, newDate(-347155200, 250000));
    EXPECT_EQ(PropertyList::parse(binaryFromTree(array)),
              Value(Array{Value(Date{referenceDate - 0.5}), Value(Date{referenceDate + 0.5}),
                          Value(Date{referenceDate - 347155200 + 0.25})}));
}

TEST(PropertyList, DamagedBytesAndIntegersThatDoNotFitAreRefused)
{
    const std::string tooLarge = xmlDocument("<array><integer>9223372036854775808</integer></array>");
    const std::string binary = binaryFromXML(xmlDocument("<dict><key>a</key><string>b</string></dict>"));
    std::string deep;
    for (int level = 0; level < 600; ++level)
        deep = "<array>" + deep + "</array>";
    for (const std::string &bytes : {tooLarge, binaryFromXML(tooLarge), xmlDocument("<integer>18446744073709551615</integer>"),
                                     std::string(), std::string("garbage"), xmlDocument("<dict><key>a</key><string>b"),
                                     binary.substr(0, binary.size() / 2), std::string("bplist00\x01\x02\x03", 11), xmlDocument(deep)})
        EXPECT_EQ(errorCodeOf([&] { PropertyList::parse(bytes); }), PropertyList::ReadCorruptError) << bytes.substr(0, 80);
    EXPECT_EQ(PropertyList::parse(xmlDocument("<integer>-9223372036854775808</integer>")), Value(static_cast<long long>(LLONG_MIN)));
}

TEST(PropertyList, ValuesWithoutAPropertyListFormAreRefused)
{
    for (const Value &value : {Value(), Value(Array{Value(1), Value()}), Value(std::string("nul\0inside", 10)),
                               Value(Dictionary{{std::string("k\0y", 3), Value(1)}}),
                               Value(Date{referenceDate + 86400.0 * 365 * 100}), Value(Date{-86400.0 * 365 * 60})})
        EXPECT_EQ(errorCodeOf([&] { PropertyList::toXML(value); }), PropertyList::WriteInvalidError);
}

TEST(PropertyList, BinaryListsWithNULInsideAStringOrKeyAreRefusedBeforeLibplistSeesThem)
{
    // "é" makes libplist write the key as UTF-16; "X" then becomes the NUL.
    const auto withNul = [](const std::string &xml, const std::string &marker, const std::string &nul) {
        std::string binary = binaryFromXML(xml);
        const std::size_t at = binary.find(marker);
        EXPECT_NE(at, std::string::npos);
        binary.replace(at, marker.size(), nul);
        return binary;
    };
    const std::string utf16Key = withNul(xmlDocument("<dict><key>\xC3\xA9X</key><true/></dict>"), std::string("\x00X", 2),
                                         std::string(2, '\0'));
    const std::string asciiKey = withNul(xmlDocument("<dict><key>kXy</key><true/></dict>"), "kXy", std::string("k\0y", 3));
    const std::string asciiValue = withNul(xmlDocument("<dict><key>k</key><string>vXw</string></dict>"), "vXw",
                                           std::string("v\0w", 3));
    const std::string utf16Value = withNul(xmlDocument("<array><string>\xC3\xA9X</string></array>"), std::string("\x00X", 2),
                                           std::string(2, '\0'));
    for (const std::string &bytes : {utf16Key, asciiKey, asciiValue, utf16Value})
        EXPECT_EQ(errorCodeOf([&] { PropertyList::parse(bytes); }), PropertyList::ReadCorruptError);

    // A long string's length comes from an integer object; one running past the objects is refused too.
    const std::string longText(40, 'a');
    const std::string longString = binaryFromXML(xmlDocument("<array><string>" + longText + "</string></array>"));
    EXPECT_EQ(PropertyList::parse(longString), Value(Array{Value(longText)}));
    std::string overlong = longString;
    overlong[overlong.find(longText) - 1] = '\x7F';
    EXPECT_EQ(errorCodeOf([&] { PropertyList::parse(overlong); }), PropertyList::ReadCorruptError);
    EXPECT_EQ(errorCodeOf([&] { PropertyList::parse(xmlDocument(std::string("<string>a\0b</string>", 20))); }),
              PropertyList::ReadCorruptError);
}

namespace
{
// A binary list built object by object: each object's bytes, in index order, with 4-byte
// offsets and references; the root is object 0.
std::string binaryFromObjects(const std::vector<std::string> &objects)
{
    std::string bytes = "bplist00";
    std::vector<std::uint32_t> offsets;
    for (const std::string &object : objects) {
        offsets.push_back(static_cast<std::uint32_t>(bytes.size()));
        bytes += object;
    }
    const std::uint64_t table = bytes.size();
    const auto append = [&bytes](std::uint64_t value, int size) {
        for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
    };
    for (const std::uint32_t offset : offsets)
        append(offset, 4);
    bytes += std::string(6, '\0');
    append(4, 1);
    append(4, 1);
    append(objects.size(), 8);
    append(0, 8);
    append(table, 8);
    return bytes;
}

// An array of references to the given objects.
std::string arrayOf(const std::vector<std::uint32_t> &references)
{
    std::string object(1, static_cast<char>(0xA0 | references.size()));
    for (const std::uint32_t reference : references)
        for (int shift = 24; shift >= 0; shift -= 8)
            object.push_back(static_cast<char>((reference >> shift) & 0xFF));
    return object;
}
}

TEST(PropertyList, ListsThatWouldOverflowOrFloodLibplistAreRefused)
{
    // Arrays nested 100,000 deep: libplist's recursion would overflow the stack.
    std::vector<std::string> deep;
    for (std::uint32_t level = 0; level + 1 < 100000; ++level)
        deep.push_back(arrayOf({level + 1}));
    deep.push_back(arrayOf({}));
    // An array holding itself.
    const std::vector<std::string> itself{arrayOf({0})};
    // Forty levels of arrays that each name the next one twice: 2^40 copies once expanded.
    std::vector<std::string> doubling;
    for (std::uint32_t level = 0; level < 40; ++level)
        doubling.push_back(arrayOf({level + 1, level + 1}));
    doubling.push_back(arrayOf({}));
    // A reference to an object that does not exist.
    const std::vector<std::string> dangling{arrayOf({7})};
    for (const auto &objects : {deep, itself, doubling, dangling})
        EXPECT_EQ(errorCodeOf([&] { PropertyList::parse(binaryFromObjects(objects)); }), PropertyList::ReadCorruptError);

    std::string deepXML;
    for (int level = 0; level < 100000; ++level)
        deepXML += "<array>";
    for (int level = 0; level < 100000; ++level)
        deepXML += "</array>";
    EXPECT_EQ(errorCodeOf([&] { PropertyList::parse(xmlDocument(deepXML)); }), PropertyList::ReadCorruptError);

    // Shared objects that stay small, and moderate nesting, are read.
    std::vector<std::string> shared{arrayOf({1, 1, 1}), arrayOf({2, 2}), arrayOf({})};
    EXPECT_EQ(PropertyList::parse(binaryFromObjects(shared)),
              Value(Array(3, Value(Array(2, Value(Array{}))))));
    std::string nested = "<array/>";
    for (int level = 0; level < 100; ++level)
        nested = "<array>" + nested + "</array>";
    EXPECT_NO_THROW(PropertyList::parse(xmlDocument("<dict><key>a</key>" + nested + "<key>b</key><dict/></dict>")));
}
