#include "StoreTestEnvironment.h"
#include "TWFileManager.h"
#include "TWVolumeInfo.h"

#include <gtest/gtest.h>

namespace
{
class VolumeFactsTest : public ::testing::Test
{
protected:
    static std::string media(const std::string &rest)
    {
        return "/media/" + StoreTestEnvironment::userName() + "/" + rest;
    }

    StoreTestEnvironment m_environment;
};

struct ExpectedFacts
{
    std::string path;
    std::string key;
    bool checkIgnoreList, alwaysLocal, server, macDisk, writable, shouldIgnore;
};
}

TEST_F(VolumeFactsTest, FactsAndKeysOfEachKindOfVolume)
{
    const std::vector<ExpectedFacts> volumes{
        {media("USB Stick/Photos"), "USB Stick-msdos-4096-1000", true, false, false, false, true, false},
        {media("Windows/x"), "Windows-ntfs-4096-3000", false, false, false, false, true, false},
        // FUSE counts as local although the kernel calls sshfs a network file system.
        {"/mnt/sshfs/home", "sshfs-fusefs-4096-5000", false, true, false, false, true, false},
        {"/mnt/nas/docs", "nas-smbfs-1024-6000", true, false, true, false, true, false},
        {"/Volumes/Dropbox/a", "Dropbox-fusefs-4096-7000", false, true, false, false, true, true},
        {media("DVD/VIDEO_TS"), "DVD-cd9660-2048-8000", true, false, false, false, false, false},
        {"/Volumes/Data/Folder", "Data-hfs-4096-9000", true, false, false, true, true, false},
        {"/home/me/Documents", "/-ext4-4096-250000", true, false, false, true, true, false},
    };
    for (const ExpectedFacts &expected : volumes) {
        TWVolumeInfo info;
        ASSERT_EQ(CFUGetVolumeInfo(expected.path, &info), 0) << expected.path;
        EXPECT_EQ(info.path(), expected.path);
        EXPECT_EQ(TWKeyForDisk(expected.path), expected.key);
        EXPECT_EQ(info.fsCheckIgnoreList(), expected.checkIgnoreList) << expected.path;
        EXPECT_EQ(info.fsAlwaysTreatAsLocal(), expected.alwaysLocal) << expected.path;
        EXPECT_EQ(info.isServer(), expected.server) << expected.path;
        EXPECT_EQ(info.isMacDisk(), expected.macDisk) << expected.path;
        EXPECT_EQ(TWFileManager::isHFSVolume(expected.path), expected.macDisk) << expected.path;
        EXPECT_EQ(info.isRW(), expected.writable) << expected.path;
        EXPECT_EQ(info.tarnwShouldIgnore(), expected.shouldIgnore) << expected.path;
    }
    EXPECT_EQ(TWKeyForDisk(media("USB Stick")), TWKeyForDisk(media("USB Stick/Photos")));
    TWVolumeInfo data;
    CFUGetVolumeInfo("/Volumes/Data", &data);
    EXPECT_TRUE(data.hasDecentRFSupport());
    EXPECT_TRUE(data.description().starts_with("Info cache obj 0x"));
    EXPECT_TRUE(data.description().ends_with(" for: /Volumes/Data"));
}

TEST_F(VolumeFactsTest, MacDiskAndAfpTypeNamesMatchExactly)
{
    auto source = std::make_shared<ScriptedVolumeFactsSource>("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                              "2 1 8:2 / /Volumes/A rw - hfsx /dev/sdb1 rw\n"
                                                              "3 1 8:3 / /Volumes/B rw - HFSX /dev/sdc1 rw\n"
                                                              "4 1 8:4 / /Volumes/C rw - hfsxx /dev/sdd1 rw\n"
                                                              "5 1 8:5 / /Volumes/D rw - afpfs afp://server/s rw\n");
    for (const char *mount : {"/Volumes/A", "/Volumes/B", "/Volumes/C", "/Volumes/D"})
        source->setStatfs(mount, {});
    ScopedVolumeFactsSource installed(source);
    TWVolumeInfo a, b, c, d;
    CFUGetVolumeInfo("/Volumes/A", &a);
    CFUGetVolumeInfo("/Volumes/B", &b);
    CFUGetVolumeInfo("/Volumes/C", &c);
    CFUGetVolumeInfo("/Volumes/D", &d);
    EXPECT_TRUE(a.isMacDisk());
    EXPECT_FALSE(b.isMacDisk());
    EXPECT_FALSE(c.isMacDisk());
    EXPECT_TRUE(d.isAFPServer());
    EXPECT_TRUE(d.isServer());
}

TEST_F(VolumeFactsTest, WithoutFactsTheKeyIsTheVolumeNameAlone)
{
    m_environment.source().setMissing("/Volumes/Data/gone");
    EXPECT_EQ(TWKeyForDisk("/Volumes/Data/gone"), "Data");
    TWVolumeInfo info;
    EXPECT_EQ(CFUGetVolumeInfo("/Volumes/Data/gone", &info), -1);
    EXPECT_EQ(info.path(), "/Volumes/Data/gone");
    EXPECT_FALSE(info.isRW() || info.isMacDisk() || info.fsCheckIgnoreList());
    EXPECT_EQ(info.statInfo().blockCount, 0u);
    EXPECT_EQ(CFUGetVolumeInfo("/Volumes/Data", nullptr), -1);
}

TEST_F(VolumeFactsTest, DiskRootsAndDisplayNames)
{
    EXPECT_TRUE(TWFileManager::isPathToADisk("/Volumes/Data"));
    EXPECT_TRUE(TWFileManager::isPathToADisk(media("USB Stick")));
    for (const char *path : {"/Volumes/Data/", "/Volumes/Data/sub", "/", "/Users", "/Volumes/Data/Volumes/x"})
        EXPECT_FALSE(TWFileManager::isPathToADisk(path)) << path;

    m_environment.source().setMissing("/Volumes/X");
    m_environment.source().setMissing("/Volumes/XY");
    EXPECT_EQ(TWPathDisplayName("/Volumes/X"), "/Volumes/X");
    EXPECT_EQ(TWPathDisplayName("/Volumes/XY"), "XY");
    EXPECT_EQ(TWPathDisplayName(media("USB Stick/Photos")), "USB Stick/Photos");
    EXPECT_EQ(TWPathDisplayName("/Users/me"), "/Users/me");
    EXPECT_EQ(TWVolumeDisplayName(media("USB Stick/Photos")), "USB Stick");
    EXPECT_EQ(TWVolumeDisplayName("/Volumes/XY/z"), "XY/z");
}

TEST(SystemVolumeFacts, RealFolderHasFactsAndAKey)
{
    TemporaryDirectory folder;
    TWVolumeInfo info;
    ASSERT_EQ(CFUGetVolumeInfo(folder.path(), &info), 0);
    EXPECT_GT(info.statInfo().blockSize, 0u);
    EXPECT_TRUE(info.isRW());
    EXPECT_TRUE(TWKeyForDisk(folder.path()).starts_with("/-" + info.statInfo().fileSystemType + "-"));
    EXPECT_EQ(TWKeyForDisk(folder.file("missing")), "/");
}
