#include <gtest/gtest.h>
#include <sys/stat.h>

#include "EnvironmentOverride.h"
#include "PropertyList.h"
#include "PropertyListSerialization.h"
#include "TestSupport.h"

TEST(PropertyListSerialization, FetchesOnlyStringsAlongADottedKeyPath)
{
    TemporaryDirectory home;
    writeFile(home.file("settings.plist"),
              PropertyList::toXML(Value(Dictionary{
                  {"count", Value(3)},
                  {"outer", Value(Dictionary{{"inner", Value(Dictionary{{"leaf", Value("found")}})}})},
              })));
    const EnvironmentOverride override("HOME", home.path());
    const auto fetch = [](const std::string &key) {
        return PropertyListSerialization::fetchSingleValueForKey(key, "~/settings.plist");
    };
    EXPECT_EQ(fetch("outer.inner.leaf"), "found");
    EXPECT_EQ(fetch("outer.missing.leaf"), std::nullopt);
    EXPECT_EQ(fetch("outer.inner"), std::nullopt) << "a dictionary";
    EXPECT_EQ(fetch("count"), std::nullopt) << "a number";
    EXPECT_EQ(fetch("count.deeper"), std::nullopt);
}

TEST(PropertyListSerialization, UnreadableFilesGiveNothing)
{
    TemporaryDirectory folder;
    writeFile(folder.file("notes.txt"), "count = 3\n");
    ASSERT_EQ(mkfifo(folder.file("pipe").c_str(), 0600), 0) << "a pipe must not hang the reader";
    for (const std::string &path : {folder.file("missing.plist"), folder.path(), folder.file("notes.txt"), folder.file("pipe")})
        EXPECT_EQ(PropertyListSerialization::fetchSingleValueForKey("count", path), std::nullopt) << path;
}
