#include "../store/LogCapture.h"
#include "../store/StoreTestEnvironment.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "XEngine.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{
class XEnginePathTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Disks no longer mounted: their paths are placed by the name rule.
        for (const char *gone : {"/Volumes/Backup", "/Volumes/EFI", "/Volumes/firmwaresyncd.abc",
                                 "/Volumes/com.apple.TimeMachine.localsnapshots"})
            m_environment.source().setMissing(gone);
    }

    std::string folder(const std::string &volume, const std::string &rest)
    {
        const std::string path = m_environment.volume(volume) + "/" + rest;
        std::filesystem::create_directories(path);
        return path;
    }

    static bool ignored(const std::string &path) { return XEngine::isInIgnoreList(URL::fileURLWithPath(path)); }

    static bool ignoredVolume(const std::string &path, std::optional<TWVolumeInfo> &info)
    {
        return XEngine::shouldIgnoreVolume(URL::fileURLWithPath(path), info);
    }

    static void setWhiteList(const std::vector<std::string> &patterns)
    {
        Array list;
        for (const std::string &pattern : patterns)
            list.emplace_back(Dictionary{{"path", Value(pattern)}});
        TarnwickStore::updateGeneralPreferences(Dictionary{{"whitelistFolders", Value(list)}});
    }

    StoreTestEnvironment m_environment;
};
}

TEST_F(XEnginePathTest, IgnoreListLooksAtTheVolumeRelativePath)
{
    for (const char *rest :
         {"System/Library", "Library/Caches/x", "Users/x/.Trashes/y", "NetworkStuff", "Users/me/Library/Containers/a",
          "Docs/(A Document Being Saved By Pages)", "Backups.backupdb", "Tool.app"})
        EXPECT_TRUE(ignored(folder("STICK", rest))) << rest;
    // "/System/" counts only at the volume's root; a file gets no final slash.
    EXPECT_FALSE(ignored(folder("STICK", "Users/System")));
    EXPECT_FALSE(ignored(m_environment.volume("STICK")));
    writeFile(m_environment.volume("STICK") + "/Notes.app", "not a bundle");
    EXPECT_FALSE(ignored(m_environment.volume("STICK") + "/Notes.app"));
    // A disk no longer mounted is placed by its name; the start-up disk's paths stay whole.
    EXPECT_TRUE(ignored("/Volumes/Backup/System/Library"));
    EXPECT_TRUE(ignored("/private/var/x"));
    EXPECT_FALSE(ignored("/Volumes/private/x"));
}

TEST_F(XEnginePathTest, LogLinesOnlyWithDetailedLoggingAndNeverForSystemVolumes)
{
    LogCapture quiet;
    EXPECT_TRUE(ignored(folder("STICK", "System/Library")));
    EXPECT_TRUE(quiet.lines().empty());

    UserDefaults::standardUserDefaults().setObject(Value(true), "detailedLogging");
    LogCapture log;
    for (const char *path : {"/Volumes/EFI/EFI/BOOT", "/Volumes/firmwaresyncd.abc/x",
                             "/Volumes/com.apple.TimeMachine.localsnapshots/Backups"})
        EXPECT_TRUE(ignored(path)) << path;
    EXPECT_TRUE(ignored(folder("EFI", "EFI")));
    EXPECT_TRUE(log.lines().empty());

    EXPECT_TRUE(ignored(folder("STICK", "System/Library")));
    setWhiteList({"/data/keep*"});
    EXPECT_TRUE(XEngine::isInWhiteList("/data/keep1/sub"));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Path is in ignorelist:/System/Library/",
                                                     "Path is in whitelist:/data/keep1/sub"}));
}

TEST_F(XEnginePathTest, WhiteListPatternsMatchWithPathnameAndLeadingDirRules)
{
    setWhiteList({"/data/keep*", "/lit/a\\b", "/one/*x"});
    for (const char *path : {"/data/keep", "/data/keepsake/deep/er", "/lit/a\\b", "/one/box/inner"})
        EXPECT_TRUE(XEngine::isInWhiteList(path)) << path;
    for (const char *path : {"/data/kee", "/other/data/keep", "/lit/ab", "/one/b/x"})
        EXPECT_FALSE(XEngine::isInWhiteList(path)) << path;

    // The ignore list's white-list step matches the path with its final slash.
    const std::string kept = folder("STICK", "Kept");
    setWhiteList({kept + "/"});
    EXPECT_TRUE(ignored(kept));
    EXPECT_FALSE(XEngine::isInWhiteList(kept));
}

TEST_F(XEnginePathTest, ShouldIgnoreVolume)
{
    // Answered before the facts are read: read-only volume, package, missing item.
    std::optional<TWVolumeInfo> info;
    EXPECT_TRUE(ignoredVolume(folder("ROStick", "a"), info));
    EXPECT_TRUE(ignoredVolume(folder("STICK", "Thing.app"), info));
    EXPECT_TRUE(ignoredVolume(m_environment.volume("STICK") + "/missing", info));
    EXPECT_FALSE(info);

    EXPECT_TRUE(ignoredVolume(folder("ExpanDrive", "a"), info));
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->tarnwShouldIgnore());
    EXPECT_FALSE(ignoredVolume(folder("STICK", "Docs"), info));
    EXPECT_EQ(info->statInfo().fileSystemType, "msdos");

    // Types outside the table go through the ignore list; those in it only through the white list.
    EXPECT_TRUE(ignoredVolume(folder("STICK", "System"), info));
    EXPECT_FALSE(ignoredVolume(folder("NTFS", "System"), info));
    setWhiteList({m_environment.volume("NTFS") + "/System"});
    EXPECT_TRUE(ignoredVolume(folder("NTFS", "System"), info));
}
