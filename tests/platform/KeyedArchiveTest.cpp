#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>

#include "Error.h"
#include "KeyedArchive.h"
#include "PropertyList.h"

namespace
{
constexpr double referenceDate = 978307200; // 2001-01-01T00:00:00Z in seconds since 1970

std::string textOf(const Data &data)
{
    return std::string(data.begin(), data.end());
}

Data dataOf(const std::string &text)
{
    return Data(text.begin(), text.end());
}

Value uid(long long index)
{
    return Value(Dictionary{{PropertyList::UIDKey, Value(index)}});
}

// An archive in the archiver's shape whose root object is of the named class.
Data archiveOfClass(const std::string &className, const Value &time)
{
    const Value archive(Dictionary{
        {"$archiver", Value("NSKeyedArchiver")},
        {"$version", Value(100000)},
        {"$top", Value(Dictionary{{"root", uid(1)}})},
        {"$objects", Value(Array{Value("$null"), Value(Dictionary{{"NS.time", time}, {"$class", uid(2)}}),
                                 Value(Dictionary{{"$classname", Value(className)},
                                                  {"$classes", Value(Array{Value(className), Value("NSObject")})}})})},
    });
    return dataOf(PropertyList::toBinary(archive, PropertyList::References::AsUIDDictionaries));
}
}

TEST(KeyedArchiveTest, ADateIsABinaryArchiveOfItsSecondsSince2001)
{
    const Date picked{referenceDate + 800000000.25};
    const Data archived = KeyedArchive::archivedDataWithDate(picked);
    ASSERT_EQ(textOf(archived).substr(0, 8), "bplist00");

    // Read back with libplist alone, as another program would: real references, not dictionaries.
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char *>(archived.data()), static_cast<std::uint32_t>(archived.size()), &root);
    ASSERT_NE(root, nullptr);
    plist_t top = plist_dict_get_item(root, "$top");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(top, "root")), PLIST_UID);
    plist_t objects = plist_dict_get_item(root, "$objects");
    ASSERT_EQ(plist_array_get_size(objects), 3u);
    double seconds = 0;
    plist_get_real_val(plist_dict_get_item(plist_array_get_item(objects, 1), "NS.time"), &seconds);
    EXPECT_DOUBLE_EQ(seconds, 800000000.25);
    char *archiver = nullptr;
    plist_get_string_val(plist_dict_get_item(root, "$archiver"), &archiver);
    EXPECT_STREQ(archiver, "NSKeyedArchiver");
    std::free(archiver);
    plist_free(root);

    EXPECT_EQ(KeyedArchive::unarchivedDate(archived), picked);
}

TEST(KeyedArchiveTest, ReferencesAreReadOnlyWhenAskedFor)
{
    const std::string bytes = textOf(KeyedArchive::archivedDataWithDate(Date{referenceDate}));
    try {
        PropertyList::parse(bytes);
        FAIL() << "a keyed archive was read by the plain reader";
    } catch (const Error &error) {
        EXPECT_EQ(error.code(), PropertyList::ReadCorruptError);
    }
    const Value archive = PropertyList::parse(bytes, PropertyList::References::AsUIDDictionaries);
    EXPECT_EQ(archive.asDictionary()->at("$top"), Value(Dictionary{{"root", uid(1)}}));
}

TEST(KeyedArchiveTest, WhatDoesNotUnarchiveToADateIsNoDate)
{
    EXPECT_FALSE(KeyedArchive::unarchivedDate({}));
    EXPECT_FALSE(KeyedArchive::unarchivedDate(dataOf("not a property list")));
    EXPECT_FALSE(KeyedArchive::unarchivedDate(dataOf(PropertyList::toXML(Value("a string")))));
    EXPECT_FALSE(KeyedArchive::unarchivedDate(archiveOfClass("NSString", Value(1.0))));
    EXPECT_FALSE(KeyedArchive::unarchivedDate(archiveOfClass("NSDate", Value("soon"))));
    // References that point past the objects.
    const Value dangling(Dictionary{{"$archiver", Value("NSKeyedArchiver")},
                                    {"$top", Value(Dictionary{{"root", uid(7)}})},
                                    {"$objects", Value(Array{Value("$null")})}});
    EXPECT_FALSE(KeyedArchive::unarchivedDate(
        dataOf(PropertyList::toBinary(dangling, PropertyList::References::AsUIDDictionaries))));

    EXPECT_EQ(KeyedArchive::unarchivedDate(archiveOfClass("NSDate", Value(60))), Date{referenceDate + 60});
}
