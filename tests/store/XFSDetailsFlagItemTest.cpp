#include "LogCapture.h"
#include "XFSDetailsFlagItem.h"
#include "XFSDetailsFlagItemKeys.h"

#include <algorithm>
#include <gtest/gtest.h>

using ItemType = XFSDetailsFlagItem::ItemType;
using SortGroups = XFSDetailsFlagItem::SortGroups;

namespace
{
Dictionary storedItem(std::vector<std::pair<std::string, Value>> changes = {})
{
    Dictionary item{{"type", Value(3)},        {"uniqueKey", Value("key")}, {"displayName", Value("Some files")},
                    {"builtin", Value(true)},  {"fsname", Value("a.file")}, {"enabled", Value(true)},
                    {"editable", Value(false)}};
    for (auto &[key, value] : changes) {
        if (value.isNull())
            item.erase(key);
        else
            item.insert_or_assign(key, value);
    }
    return item;
}
}

TEST(XFSDetailsFlagItem, ReadItemsAreEditableAndGroupedByNameWhenTheGroupIsUnknown)
{
    const auto item = XFSDetailsFlagItem::fromDictionary(storedItem());
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->editable());
    EXPECT_EQ(item->type(), ItemType::fileToDelete);
    EXPECT_EQ(item->fsName(), "a.file");

    const auto group = [](Value number, const char *name) {
        return XFSDetailsFlagItem::fromDictionary(storedItem({{"group", number}, {"displayName", Value(name)}}))
            ->sortGroup();
    };
    EXPECT_EQ(group(Value(5), "Windows junk"), SortGroups::windows);
    EXPECT_EQ(group(Value(10000), "windows junk"), SortGroups::apple);
    EXPECT_EQ(group(Value(1000), "Windows junk"), SortGroups::blacklist);
    EXPECT_EQ(group(Value(1), "Mac junk"), SortGroups::windows);
    EXPECT_EQ(group(Value(), "Windows junk"), SortGroups::windows);
}

TEST(XFSDetailsFlagItem, MalformedItemsAreDroppedWithOneLogLine)
{
    for (const auto &change : std::vector<std::pair<std::string, Value>>{{"type", Value(6)},
                                                                         {"type", Value(-1)},
                                                                         {"type", Value(2.0)},
                                                                         {"uniqueKey", Value()},
                                                                         {"enabled", Value("yes")}}) {
        LogCapture log;
        EXPECT_FALSE(XFSDetailsFlagItem::fromDictionary(storedItem({change}))) << change.first;
        EXPECT_EQ(log.lines().size(), 1u) << change.first;
    }
}

TEST(XFSDetailsFlagItem, RoundTripKeepsEveryFieldButEditabilityAndUnknownGroup)
{
    const XFSDetailsFlagItem original(false, ItemType::folderToDelete, false, false, "Windows folders", "k", "f",
                                      SortGroups::unknown);
    EXPECT_EQ(original.toDictionary().size(), 8u);
    const auto read = XFSDetailsFlagItem::fromDictionary(original.toDictionary());
    ASSERT_TRUE(read);
    const XFSDetailsFlagItem expected(false, ItemType::folderToDelete, true, false, "Windows folders", "k", "f",
                                      SortGroups::windows);
    EXPECT_EQ(read->toDictionary(), expected.toDictionary());
    // Equality is by key alone.
    EXPECT_EQ(*read, original.withEnabled(true).withDisplayName("other"));
}

TEST(XFSDetailsFlagItem, DefaultListHasEveryKeyTypedSoNothingIsDeletedTwice)
{
    const std::vector<XFSDetailsFlagItem> defaults = XFSDetailsFlagItem::defaultsFlags();
    const auto find = [&defaults](const std::string &key) {
        EXPECT_EQ(std::count_if(defaults.begin(), defaults.end(),
                                [&key](const auto &item) { return item.uniqueKey() == key; }),
                  1)
            << key;
        return *std::find_if(defaults.begin(), defaults.end(),
                             [&key](const auto &item) { return item.uniqueKey() == key; });
    };
    for (XFSDetailsFlagItemKeys key : allDetailsFlagItemKeys)
        find(rawValue(key));
    for (const char *key : {"dsstore", "thumbsdb", "desktopini", "apdisk", "volumeicon", "iconfile"})
        EXPECT_EQ(find(key).type(), ItemType::legacyFileType) << key;
    for (const char *key :
         {"appledouble", "colorLabels", "tags", "volumeAttrs", "onlyCleanManually", "blacklisted", "Xattrs"})
        EXPECT_EQ(find(key).type(), ItemType::userOption) << key;
    EXPECT_EQ(find(".com.apple.timemachine.donotpresent").type(), ItemType::fileToDelete);
    EXPECT_EQ(find(".com.apple.timemachine.donotpresent").fsName(), ".com.apple.timemachine.donotpresent");
    EXPECT_EQ(find("appledouble_netatalk").type(), ItemType::folderToDelete);
    EXPECT_EQ(find("eaDir_Synology").type(), ItemType::folderToDelete);
    EXPECT_EQ(find("iconfile").fsName(), "Icon\r");

    std::vector<std::string> rootFolders;
    for (const XFSDetailsFlagItem &item : defaults) {
        if (item.type() == ItemType::legacyRootFolderItemType) {
            rootFolders.push_back(item.fsName());
            EXPECT_EQ(item.enabled(), item.fsName() != ".DocumentRevisions-V100") << item.fsName();
        }
    }
    EXPECT_EQ(rootFolders,
              (std::vector<std::string>{".Spotlight-V100", ".Trashes", ".fseventsd", ".TemporaryItems",
                                        ".PKInstallSandboxManager", ".PKInstallSandboxManager-SystemSoftware",
                                        ".DocumentRevisions-V100"}));
}
