#include "Bundle.h"
#include "LogCapture.h"
#include "Md5.h"
#include "StoreTestEnvironment.h"
#include "XFSDiskOrDirectory.h"

#include <QImage>

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using CleanMode = XFSDiskOrDirectory::CleanMode;
using ItemType = XFSDetailsFlagItem::ItemType;

namespace
{
Value item(const std::string &key, int type, bool enabled)
{
    return Value(Dictionary{{"type", Value(type)},
                            {"uniqueKey", Value(key)},
                            {"displayName", Value("Stored name")},
                            {"builtin", Value(true)},
                            {"fsname", Value("")},
                            {"enabled", Value(enabled)}});
}

Dictionary recordDictionary(const std::string &diskKey, const std::string &path, Array items)
{
    return Dictionary{{"uniqueKey", Value(diskKey)},
                      {"fspath", Value(path)},
                      {"hasNativeAttrsAndResForks", Value(false)},
                      {"isFileServer", Value(false)},
                      {"isMacDisk", Value(false)},
                      {"mode", Value(2)},
                      {"detailsItems", Value(std::move(items))}};
}

std::vector<std::string> keysOf(const std::vector<XFSDetailsFlagItem> &items)
{
    std::vector<std::string> keys;
    for (const XFSDetailsFlagItem &flag : items)
        keys.push_back(flag.uniqueKey());
    return keys;
}

bool showsRootFolderItems(const XFSDiskOrDirectory &record)
{
    const std::vector<XFSDetailsFlagItem> shown = record.flagsItemsForDisplay();
    return std::any_of(shown.begin(), shown.end(), [](const XFSDetailsFlagItem &flag) {
        return flag.type() == ItemType::legacyRootFolderItemType;
    });
}

class XFSDiskOrDirectoryTest : public ::testing::Test
{
protected:
    static XFSDiskOrDirectory stored(const Dictionary &dictionary, const std::string &storageKey = "stored")
    {
        std::optional<XFSDiskOrDirectory> record = XFSDiskOrDirectory::fromDictionary(storageKey, dictionary);
        EXPECT_TRUE(record);
        return *record;
    }

    StoreTestEnvironment m_environment;
};
}

TEST_F(XFSDiskOrDirectoryTest, NewRecordsAndCatchAllRecords)
{
    const XFSDiskOrDirectory data("/Volumes/Data", CleanMode::alwaysClean);
    EXPECT_EQ(data.storageKey(), "/Volumes/Data-Data-hfs-4096-9000)");
    EXPECT_TRUE(data.hasNativeAttrsAndResForks());

    const XFSDiskOrDirectory stick(m_environment.volume("STICK"), CleanMode::askToClean);
    EXPECT_EQ(stick.uniqueDiskKey(), "STICK-msdos-4096-2000");
    EXPECT_EQ(stick.fsType(), "msdos");
    EXPECT_FALSE(stick.hasNativeAttrsAndResForks() || stick.appleFS() || stick.server() || stick.builtin());
    EXPECT_EQ(keysOf(stick.detailsFlags()), keysOf(XFSDetailsFlagItem::defaultsFlags()));
    EXPECT_TRUE(showsRootFolderItems(stick));
    EXPECT_EQ(stick.iconChoice(), XFSDiskOrDirectory::IconChoice::itemIcon);

    const XFSDiskOrDirectory disks("disks"), servers("servers");
    EXPECT_EQ(disks.displayName(), "Non Mac Disks");
    EXPECT_EQ(servers.displayName(), "Network Disks");
    EXPECT_FALSE(disks.server());
    EXPECT_TRUE(servers.server());
    EXPECT_EQ(disks.mode(), CleanMode::ignore);
    EXPECT_TRUE(disks.builtin() && servers.builtin());
    EXPECT_TRUE(showsRootFolderItems(disks));
    EXPECT_FALSE(showsRootFolderItems(servers));
    EXPECT_EQ(servers.iconChoice(), XFSDiskOrDirectory::IconChoice::fileServer);
}

TEST_F(XFSDiskOrDirectoryTest, LoadingAppliesEveryOptionRule)
{
    Dictionary dictionary =
        recordDictionary("STICK-msdos-4096-2000", m_environment.volume("STICK"),
                         {item("iconfile", 0, true), item("appledouble_netatalk", 3, false), item("dsstore", 0, false),
                          item("Xattrs", 2, true), item("bad", 6, true), Value("stray")});
    dictionary["mode"] = Value(7);
    LogCapture log;
    const XFSDiskOrDirectory record = stored(dictionary);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(record.mode(), CleanMode::alwaysClean);

    // Stored items keep their place and state; the missing defaults follow, with default names.
    const std::vector<std::string> keys = keysOf(record.detailsFlags());
    EXPECT_EQ((std::vector<std::string>(keys.begin(), keys.begin() + 3)),
              (std::vector<std::string>{"iconfile", "appledouble_netatalk", "dsstore"}));
    EXPECT_EQ(keys.size(), XFSDetailsFlagItem::defaultsFlags().size());
    EXPECT_TRUE(record.findFlag("iconfile")->enabled());
    EXPECT_FALSE(record.findFlag("dsstore")->enabled());
    EXPECT_NE(record.findFlag("dsstore")->displayName(), "Stored name");
    EXPECT_EQ(record.findFlag("appledouble_netatalk")->type(), ItemType::folderToDelete);
    for (const char *key : {"blacklisted", "Xattrs"})
        EXPECT_FALSE(record.findFlag(key)->enabled() || record.findFlag(key)->editable()) << key;

    Dictionary withoutItems = dictionary;
    withoutItems.erase("detailsItems");
    EXPECT_EQ(keysOf(stored(withoutItems).detailsFlags()), keysOf(XFSDetailsFlagItem::defaultsFlags()));
}

TEST_F(XFSDiskOrDirectoryTest, XattrsComesBackOnlyOnTheMountedMacDisk)
{
    const XFSDiskOrDirectory mac =
        stored(recordDictionary("MacDisk-ext4-4096-5000", m_environment.volume("MacDisk"), {item("Xattrs", 2, false)}));
    EXPECT_TRUE(mac.findFlag("Xattrs")->enabled() && mac.findFlag("Xattrs")->editable());
    EXPECT_TRUE(mac.appleFS());

    m_environment.source().setMissing("/Volumes/Gone");
    const XFSDiskOrDirectory gone =
        stored(recordDictionary("Gone-msdos-512-77", "/Volumes/Gone", {item("Xattrs", 2, true)}));
    EXPECT_FALSE(gone.findFlag("Xattrs")->enabled() || gone.findFlag("Xattrs")->editable());
    EXPECT_EQ(gone.displayName(), "Gone");
}

TEST_F(XFSDiskOrDirectoryTest, UnreadableRecordsGiveNoRecordAndOneLogLine)
{
    for (const char *required : {"uniqueKey", "hasNativeAttrsAndResForks", "isMacDisk", "isFileServer", "mode"}) {
        Dictionary dictionary = recordDictionary("Gone-msdos-512-77", "/Volumes/Gone", {});
        dictionary.erase(required);
        LogCapture log;
        EXPECT_FALSE(XFSDiskOrDirectory::fromDictionary("k", dictionary)) << required;
        ASSERT_EQ(log.lines().size(), 1u) << required;
        EXPECT_NE(log.lines()[0].find(std::string("valueForKey failed: ") + required), std::string::npos);
    }
}

TEST_F(XFSDiskOrDirectoryTest, ServerVolumesHideRootFolderItems)
{
    const XFSDiskOrDirectory share(m_environment.volume("Share"), CleanMode::alwaysClean);
    EXPECT_TRUE(share.server());
    EXPECT_EQ(share.fsType(), "smbfs");
    EXPECT_FALSE(showsRootFolderItems(share));
}

TEST_F(XFSDiskOrDirectoryTest, AnotherDiskAtTheRecordsPathLeavesItsFactsAlone)
{
    Dictionary dictionary = recordDictionary("STICK-msdos-4096-1", m_environment.volume("STICK"), {});
    dictionary["fsTypeName"] = Value("exfat");
    dictionary["isFileServer"] = Value(true);
    const XFSDiskOrDirectory record = stored(dictionary);
    EXPECT_EQ(record.fsType(), "exfat");
    EXPECT_TRUE(record.server());
    EXPECT_EQ(record.iconChoice(), XFSDiskOrDirectory::IconChoice::otherDiskMountedThere);
}

TEST_F(XFSDiskOrDirectoryTest, BlackListFollowsTheGivenList)
{
    XFSDiskOrDirectory record(m_environment.volume("STICK"), CleanMode::alwaysClean);
    record.update(std::vector<BlackListItem>{{md5("foo"), "foo"}});
    const XFSDetailsFlagItem foo = record.detailsFlags().back();
    EXPECT_EQ(foo.toDictionary(), XFSDetailsFlagItem(false, ItemType::blacklist, true, false, "foo", md5("foo"), "foo",
                                                     XFSDetailsFlagItem::SortGroups::blacklist)
                                      .toDictionary());

    // A renamed entry keeps its item's state and moves it to the end.
    record.updateFlags({foo.withEnabled(true)});
    record.update(std::vector<BlackListItem>{{md5("foo"), "bar"}, {md5("baz"), "baz"}});
    EXPECT_EQ(record.blackListItemsEnabled(), std::vector<std::string>{"bar"});
    const std::vector<std::string> keys = keysOf(record.detailsFlags());
    EXPECT_EQ((std::vector<std::string>(keys.end() - 2, keys.end())),
              (std::vector<std::string>{md5("foo"), md5("baz")}));

    record.update(std::vector<BlackListItem>{});
    EXPECT_EQ(keysOf(record.detailsFlags()), keysOf(XFSDetailsFlagItem::defaultsFlags()));

    // The older black list adds each new name once; entries without a string name are skipped.
    record.mergeBlackListItems(Array{Value(Dictionary{{"name", Value("node_modules")}}),
                                     Value(Dictionary{{"name", Value(5)}}), Value("x"),
                                     Value(Dictionary{{"name", Value("node_modules")}})});
    EXPECT_EQ(keysOf(record.detailsFlags()).back(), md5("node_modules"));
    EXPECT_EQ(keysOf(record.detailsFlags()).size(), XFSDetailsFlagItem::defaultsFlags().size() + 1);
}

TEST_F(XFSDiskOrDirectoryTest, CopiesEqualityAndTheDictionaryForm)
{
    XFSDiskOrDirectory record(m_environment.volume("Share"), CleanMode::askToClean);
    record.update(std::vector<BlackListItem>{{md5("foo"), "foo"}});
    const XFSDiskOrDirectory copy = record.copyWithNewCleanMode(CleanMode::ignore);
    EXPECT_EQ(copy.mode(), CleanMode::ignore);
    EXPECT_EQ(copy.url(), record.url());
    EXPECT_EQ(copy, record);
    EXPECT_EQ(copy.copyWithNewCleanMode(CleanMode::askToClean).toDictionary(), record.toDictionary());

    const Dictionary dictionary = record.toDictionary();
    EXPECT_EQ(dictionary.size(), 11u);
    EXPECT_EQ(dictionary.at("displayName"), Value("Share"));
    EXPECT_EQ(stored(dictionary, record.storageKey()).toDictionary(), dictionary);
}

TEST_F(XFSDiskOrDirectoryTest, EnabledFileItemsAreWhatTheEngineDeletes)
{
    XFSDiskOrDirectory record(m_environment.volume("STICK") + "/Photos", CleanMode::alwaysClean);
    const XFSDetailsFlagItem extra(false, ItemType::fileToDelete, true, false, "Extra", "extra", "extra.file",
                                   XFSDetailsFlagItem::SortGroups::apple);
    record.updateFlags({extra, extra.withEnabled(true)});
    std::vector<std::string> names;
    for (const XFSDetailsFlagItem &flag : record.dynamicFileItemsEnabled())
        names.push_back(flag.fsName());
    EXPECT_EQ(names, (std::vector<std::string>{".com.apple.timemachine.donotpresent", "extra.file"}));
    EXPECT_EQ(record.displayName(), "Photos");
}

TEST_F(XFSDiskOrDirectoryTest, CatchAllDiskIconComesFromTheBundle)
{
    const XFSDiskOrDirectory disks("disks");
    const std::string resources = Bundle::main().resourcesPath();
    TemporaryDirectory images;
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(images.file("NonMacHDGeneric.png"))));
    Bundle::main().setResourcesPathForTesting(images.path());
    const QPixmap icon = disks.icon24by24();
    Bundle::main().setResourcesPathForTesting(resources);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.toImage().pixelColor(12, 12), QColor(Qt::red));
    EXPECT_LE(icon.deviceIndependentSize().width(), 24);
}
