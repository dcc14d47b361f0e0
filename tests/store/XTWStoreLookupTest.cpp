#include "StoreTestEnvironment.h"
#include "TarnwickStore.h"
#include "XTWStore.h"

#include <filesystem>
#include <gtest/gtest.h>

using CleanMode = XFSDiskOrDirectory::CleanMode;

namespace
{
// Records for real folders on the scripted disks; lookups of real folders.
class XTWStoreLookupTest : public ::testing::Test
{
protected:
    void SetUp() override { m_store = XTWStore::create(); }

    std::string folder(const std::string &volume, const std::string &rest)
    {
        const std::string path = m_environment.volume(volume) + "/" + rest;
        std::filesystem::create_directories(path);
        return path;
    }

    // A record for the path, which need not exist (a record made in another letter case).
    void add(const std::string &path, CleanMode mode = CleanMode::alwaysClean)
    {
        ASSERT_TRUE(m_store->addDetailsForVolumeAtPath(path, mode)) << path;
    }

    std::optional<std::string> governing(const std::string &path, bool canPickDetailsFromDefaults = true,
                                         bool returnNilIfShouldntClean = false)
    {
        const auto record =
            m_store->detailsForURL(URL::fileURLWithPath(path), canPickDetailsFromDefaults, returnNilIfShouldntClean);
        if (!record)
            return std::nullopt;
        return record->builtin() ? record->storageKey() : record->path();
    }

    void useDiskFallbacks(CleanMode mode)
    {
        m_store->update(m_store->detailsForDisks().copyWithNewCleanMode(mode));
        m_store->update(m_store->detailsForServers().copyWithNewCleanMode(mode));
    }

    StoreTestEnvironment m_environment;
    std::shared_ptr<XTWStore> m_store;
};
}

TEST_F(XTWStoreLookupTest, PathsMatchWhateverTheLetterCaseAndFinalSlash)
{
    const std::string photos = folder("STICK", "Photos");
    add(m_environment.volume("STICK") + "/PHOTOS/");
    EXPECT_EQ(governing(photos), m_environment.volume("STICK") + "/PHOTOS/");
    EXPECT_EQ(governing(photos + "/"), m_environment.volume("STICK") + "/PHOTOS/");

    // Lower-casing is Unicode's, not ASCII's.
    const std::string apples = folder("STICK", "\xc3\xa4pfel");
    add(m_environment.volume("STICK") + "/\xc3\x84PFEL");
    EXPECT_EQ(governing(apples), m_environment.volume("STICK") + "/\xc3\x84PFEL");
}

TEST_F(XTWStoreLookupTest, DeepestRecordGovernsAndOnlyAtFolderBoundaries)
{
    const std::string foo = folder("STICK", "Foo");
    const std::string bar = folder("STICK", "Foo/Bar");
    const std::string deep = folder("STICK", "Foo/Bar/Baz/Deeper");
    const std::string foobar = folder("STICK", "Foobar");
    add(bar);
    add(foo);
    EXPECT_EQ(governing(deep), bar);
    EXPECT_EQ(governing(folder("STICK", "Foo/Other")), foo);
    EXPECT_EQ(governing(foobar), "disks");
    EXPECT_EQ(governing(foobar, false), std::nullopt);
}

TEST_F(XTWStoreLookupTest, ExactMatchesLastWinsAndEqualPrefixesFirstWins)
{
    const std::string foo = folder("STICK", "Foo");
    const std::string inside = folder("STICK", "Foo/In");
    add(foo);
    add(m_environment.volume("STICK") + "/FOO");
    EXPECT_EQ(governing(foo), m_environment.volume("STICK") + "/FOO");
    EXPECT_EQ(governing(inside), foo);
}

TEST_F(XTWStoreLookupTest, RecordsOfAnotherDiskNeverMatch)
{
    const std::string folderPath = folder("STICK", "Reformatted");
    Dictionary stored = XFSDiskOrDirectory(folderPath, CleanMode::alwaysClean).toDictionary();
    stored["uniqueKey"] = Value("STICK-exfat-4096-2000");
    Dictionary preferences{{"sourceItems", Value(Dictionary{{folderPath + "-STICK-exfat-4096-2000)", Value(stored)}})}};
    TarnwickStore::updateGeneralPreferences(preferences);
    m_store = XTWStore::create();
    ASSERT_EQ(m_store->userSuppliedDisksOrDirectories().size(), 1u);

    EXPECT_EQ(governing(folderPath), "disks");
    EXPECT_EQ(governing(folderPath, false), std::nullopt);
}

TEST_F(XTWStoreLookupTest, FallbacksByKindOfVolumeAndModeFilter)
{
    EXPECT_EQ(governing(folder("NTFS", "a")), "disks");
    EXPECT_EQ(governing(folder("Share", "a")), "servers");
    // Native disks have no catch-all record.
    EXPECT_EQ(governing(folder("MacDisk", "a")), std::nullopt);
    EXPECT_EQ(governing(m_environment.homeFile("")), std::nullopt);

    const std::string ask = folder("STICK", "Ask");
    const std::string never = folder("STICK", "Never");
    const std::string always = folder("STICK", "Always");
    add(ask, CleanMode::askToClean);
    add(never, CleanMode::ignore);
    add(always, CleanMode::alwaysClean);
    EXPECT_EQ(governing(ask, true, true), std::nullopt);
    EXPECT_EQ(governing(never, true, true), std::nullopt);
    EXPECT_EQ(governing(always, true, true), always);
    EXPECT_EQ(governing(ask), ask);
    EXPECT_EQ(governing(folder("STICK", "Other"), true, true), std::nullopt);
}

TEST_F(XTWStoreLookupTest, IgnoredVolumesGetNothingWhateverTheFlags)
{
    useDiskFallbacks(CleanMode::alwaysClean);
    const std::string expan = folder("ExpanDrive", "Docs");
    add(expan);
    EXPECT_EQ(governing(expan), std::nullopt);
    EXPECT_EQ(governing(folder("ROStick", "a")), std::nullopt);
    EXPECT_EQ(governing(folder("STICK", "x/.Trashes/y")), std::nullopt);
    EXPECT_EQ(governing(folder("STICK", "Thing.app")), std::nullopt);
    EXPECT_EQ(governing(m_environment.volume("STICK") + "/missing"), std::nullopt);
    EXPECT_EQ(governing(folder("STICK", "Fine")), "disks");
}
