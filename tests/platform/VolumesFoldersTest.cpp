#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "MountTable.h"
#include "TestSupport.h"
#include "VolumesFolders.h"

namespace
{
std::string userName()
{
    const passwd *entry = getpwuid(getuid());
    return entry ? entry->pw_name : "";
}

// A registered volumes folder inside a temporary folder, with a mount table that a test writes.
class VolumesFoldersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char resolved[PATH_MAX];
        ASSERT_NE(realpath(m_temporary.path().c_str(), resolved), nullptr);
        m_root = resolved;
        m_volumes = m_root + "/Vols";
        ASSERT_EQ(mkdir(m_volumes.c_str(), 0755), 0);
        VolumesFolders::registerFolderForTesting(m_volumes);
    }

    void TearDown() override { VolumesFolders::unregisterFolderForTesting(m_volumes); }

    MountTable tableWith(const std::string &mountPoint) const
    {
        return MountTable::parse("27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                 "60 27 8:17 / " + mountPoint + " rw - vfat /dev/sdb1 rw\n");
    }

    TemporaryDirectory m_temporary;
    std::string m_root;
    std::string m_volumes;
};
}

TEST_F(VolumesFoldersTest, FoldersAreMostSpecificFirst)
{
    const std::vector<std::string> folders = VolumesFolders::folders();
    const auto position = [&](const std::string &folder) {
        return std::find(folders.begin(), folders.end(), folder) - folders.begin();
    };
    ASSERT_LT(position(m_volumes + "/"), static_cast<long>(folders.size()));
    ASSERT_LT(position("/Volumes/"), static_cast<long>(folders.size()));
    ASSERT_LT(position("/mnt/"), static_cast<long>(folders.size()));
    EXPECT_LT(position("/media/" + userName() + "/"), position("/media/"));
    EXPECT_LT(position("/run/media/" + userName() + "/"), static_cast<long>(folders.size()));

    VolumesFolders::unregisterFolderForTesting(m_volumes);
    const std::vector<std::string> withoutTestFolder = VolumesFolders::folders();
    EXPECT_EQ(std::count(withoutTestFolder.begin(), withoutTestFolder.end(), m_volumes + "/"), 0);
    VolumesFolders::registerFolderForTesting(m_volumes);
}

TEST_F(VolumesFoldersTest, MissingPathsFollowTheNameRule)
{
    EXPECT_EQ(VolumesFolders::locate("/Volumes/Data/gone/deeper"),
              (VolumeLocation{"/Volumes/", "Data", "/Volumes/Data", false}));
    EXPECT_EQ(VolumesFolders::locate("/Volumes/Data"), (VolumeLocation{"/Volumes/", "Data", "/Volumes/Data", false}));
    // The user's own folder under /media is more specific than /media itself.
    const std::string user = userName();
    EXPECT_EQ(VolumesFolders::locateByName("/media/" + user + "/Stick/a").prefix, "/media/" + user + "/");
    EXPECT_EQ(VolumesFolders::locateByName("/media/" + user + "/Stick/a").name, "Stick");

    for (const char *startup : {"/Volumes", "/Volumes/", "/Users/a/b", "/Volumesx/Data", "relative/path"}) {
        const VolumeLocation location = VolumesFolders::locateByName(startup);
        EXPECT_TRUE(location.isStartupDisk) << startup;
        EXPECT_EQ(location.name, "/") << startup;
        EXPECT_EQ(location.prefix, "") << startup;
    }
    EXPECT_EQ(VolumesFolders::locate(m_volumes + "/Gone/file"),
              (VolumeLocation{m_volumes + "/", "Gone", m_volumes + "/Gone", false}));
}

TEST_F(VolumesFoldersTest, ExistingPathsArePlacedByTheirMount)
{
    const std::string disk = m_volumes + "/My Disk";
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((disk + "/sub").c_str(), 0755), 0);

    const MountTable mounted = MountTable::parse("27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                                 "60 27 8:17 / " + m_volumes + "/My\\040Disk rw - vfat /dev/sdb1 rw\n");
    EXPECT_EQ(VolumesFolders::locate(disk + "/sub", mounted), (VolumeLocation{m_volumes + "/", "My Disk", disk, false}));
    EXPECT_EQ(VolumesFolders::locate(disk, mounted).name, "My Disk");

    // A folder inside a volumes folder that nothing is mounted on belongs to the start-up disk.
    const MountTable unmounted = MountTable::parse("27 1 254:0 / / rw - ext4 /dev/vda rw\n");
    EXPECT_EQ(VolumesFolders::locate(disk + "/sub", unmounted), (VolumeLocation{"", "/", "/", true}));
}

TEST_F(VolumesFoldersTest, MountDeeperInsideAVolumesFolderNamesItsParentAsPrefix)
{
    const std::string nested = m_volumes + "/group/Disk";
    ASSERT_EQ(mkdir((m_volumes + "/group").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(nested.c_str(), 0755), 0);
    EXPECT_EQ(VolumesFolders::locate(nested, tableWith(nested)),
              (VolumeLocation{m_volumes + "/group/", "Disk", nested, false}));
}

TEST_F(VolumesFoldersTest, LinksArePlacedWhereTheyLead)
{
    const std::string disk = m_volumes + "/Disk";
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    const std::string link = m_root + "/shortcut";
    ASSERT_EQ(symlink(disk.c_str(), link.c_str()), 0);
    EXPECT_EQ(VolumesFolders::locate(link, tableWith(disk)).name, "Disk");
}

TEST_F(VolumesFoldersTest, OtherMountsBelongToTheStartupDisk)
{
    const std::string home = m_root + "/home";
    ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
    const VolumeLocation location = VolumesFolders::locate(home, tableWith(home));
    EXPECT_TRUE(location.isStartupDisk);
    EXPECT_EQ(location.name, "/");
    EXPECT_EQ(location.mountPoint, home);
}
