#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <vector>

#include "MountTable.h"
#include "ScopedMount.h"
#include "TestSupport.h"

namespace
{
const char *const fixture =
    "22 27 0:21 / /proc rw,relatime shared:5 - proc proc rw\n"
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
    "60 27 8:17 / /media/me/My\\040Disk rw,nosuid,nodev shared:40 master:2 - vfat /dev/sdb1 rw,uid=1000\n"
    "61 27 8:33 / /mnt/tab\\011and\\134back ro,relatime - exfat /dev/sdc1 ro\n"
    "80 27 254:0 /srv/export /mnt/bind rw - ext4 /dev/vda rw\n"
    "90 27 0:60 / /mnt/a rw - tmpfs a rw\n"
    "91 27 0:61 / /mnt/ab rw - tmpfs ab rw\n"
    "this line is not a mount\n"
    "92 27 0:62 / /mnt/short rw - tmpfs\n";

std::string realPathOf(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : "";
}
}

TEST(MountTable, ParsesFieldsAndSkipsBrokenLines)
{
    const MountTable table = MountTable::parse(fixture);
    ASSERT_EQ(table.entries().size(), 7u);

    const std::optional<MountEntry> disk = table.mountAt("/media/me/My Disk");
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->mountId, 60);
    EXPECT_EQ(disk->parentId, 27);
    EXPECT_EQ(disk->major, 8u);
    EXPECT_EQ(disk->minor, 17u);
    EXPECT_EQ(disk->root, "/");
    EXPECT_EQ(disk->optionalFields, (std::vector<std::string>{"shared:40", "master:2"}));
    EXPECT_EQ(disk->fileSystemType, "vfat");
    EXPECT_EQ(disk->source, "/dev/sdb1");
    EXPECT_EQ(disk->superOptions, "rw,uid=1000");
    EXPECT_FALSE(disk->isReadOnly());

    const std::optional<MountEntry> escaped = table.mountAt("/mnt/tab\tand\\back");
    ASSERT_TRUE(escaped);
    EXPECT_TRUE(escaped->isReadOnly());
    EXPECT_TRUE(escaped->optionalFields.empty());
}

TEST(MountTable, UnescapesOctalSequencesOnly)
{
    EXPECT_EQ(MountTable::unescape("a\\040b\\012c\\134d"), "a b\nc\\d");
    // Incomplete or non-octal sequences stay as they are.
    EXPECT_EQ(MountTable::unescape("x\\04"), "x\\04");
    EXPECT_EQ(MountTable::unescape("x\\089"), "x\\089");
    EXPECT_EQ(MountTable::unescape("end\\"), "end\\");
}

TEST(MountTable, LongestWholeComponentPrefixWins)
{
    const MountTable table = MountTable::parse(fixture);
    EXPECT_EQ(table.mountForPath("/mnt/a/file")->mountPoint, "/mnt/a");
    EXPECT_EQ(table.mountForPath("/mnt/a")->mountPoint, "/mnt/a");
    EXPECT_EQ(table.mountForPath("/mnt/ab/file")->mountPoint, "/mnt/ab");
    // "/mnt/a" is not a folder above "/mnt/abc".
    EXPECT_EQ(table.mountForPath("/mnt/abc")->mountPoint, "/");
    EXPECT_EQ(table.mountForPath("/media/me/My Disk/Photos")->mountPoint, "/media/me/My Disk");
    EXPECT_EQ(table.mountForPath("/home/me")->mountPoint, "/");
    EXPECT_FALSE(MountTable::parse("").mountForPath("/home"));
}

TEST(MountTable, BindMountKeepsItsRoot)
{
    const MountTable table = MountTable::parse(fixture);
    const std::optional<MountEntry> bind = table.mountForPath("/mnt/bind/x");
    ASSERT_TRUE(bind);
    EXPECT_EQ(bind->mountPoint, "/mnt/bind");
    EXPECT_EQ(bind->root, "/srv/export");
    EXPECT_EQ(bind->source, "/dev/vda");
}

TEST(MountTable, OverMountReplacesAndHidesWhatLayBelow)
{
    const MountTable table = MountTable::parse(
        "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "70 27 0:50 / /mnt/data rw - tmpfs first rw\n"
        "71 70 0:51 / /mnt/data/inner rw - tmpfs inner rw\n"
        "72 70 0:52 / /mnt/data rw - tmpfs second rw\n"
        "100 27 0:60 / /mnt/x/y rw - tmpfs deep rw\n"
        "102 100 0:62 / /mnt/x/y/z rw - tmpfs deeper rw\n"
        "101 27 0:61 / /mnt/x rw - tmpfs cover rw\n"
        "103 101 0:63 / /mnt/x/y rw - tmpfs new rw\n");

    EXPECT_EQ(table.mountAt("/mnt/data")->source, "second");
    // The inner mount sits on the first mount, now covered by the second.
    EXPECT_EQ(table.mountForPath("/mnt/data/inner/f")->source, "second");
    EXPECT_FALSE(table.mountAt("/mnt/data/inner"));
    // A mount on a parent folder covers older mounts below it, and theirs in turn.
    EXPECT_FALSE(table.mountAt("/mnt/x/y/z"));
    EXPECT_EQ(table.mountForPath("/mnt/x/y/z/f")->source, "new");
    EXPECT_EQ(table.mountForPath("/mnt/x/f")->source, "cover");

    std::vector<std::string> sources;
    for (const MountEntry &entry : table.entries())
        sources.push_back(entry.source);
    EXPECT_EQ(sources, (std::vector<std::string>{"/dev/vda", "second", "cover", "new"}));
}

TEST(MountTable, LastEntryForAMountPointWins)
{
    // Entries without a parent link between them still resolve to the last one.
    const MountTable table = MountTable::parse("27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                               "40 33 0:40 / /mnt/u rw - tmpfs one rw\n"
                                               "41 34 0:41 / /mnt/u rw - tmpfs two rw\n");
    ASSERT_EQ(table.entries().size(), 2u);
    EXPECT_EQ(table.mountAt("/mnt/u")->source, "two");
}

TEST(MountTable, NumbersTooLargeForTheirFieldsSkipTheLine)
{
    const MountTable table = MountTable::parse("27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                               "99999999999999999999 27 0:60 / /mnt/id rw - tmpfs a rw\n"
                                               "91 2147483648 0:61 / /mnt/parent rw - tmpfs b rw\n"
                                               "92 27 4294967296:0 / /mnt/major rw - tmpfs c rw\n"
                                               "93 27 -1:0 / /mnt/sign rw - tmpfs d rw\n"
                                               "94 27 0:4294967295 / /mnt/fits rw - tmpfs e rw\n");
    std::vector<std::string> mountPoints;
    for (const MountEntry &entry : table.entries())
        mountPoints.push_back(entry.mountPoint);
    EXPECT_EQ(mountPoints, (std::vector<std::string>{"/", "/mnt/fits"}));
    EXPECT_EQ(table.mountAt("/mnt/fits")->minor, 4294967295u);
}

TEST(MountTable, ScriptedTextChangesWhileOtherThreadsRead)
{
    const std::string small = "27 1 254:0 / / rw - ext4 /dev/vda rw\n";
    const std::string large = small + "90 27 0:60 / /Volumes/" + std::string(200, 'x') + " rw - vfat /dev/sdz1 rw\n";
    auto scripted = std::make_shared<ScriptedMountInfoSource>(small);
    MountTable::setSourceForTesting(scripted);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const std::size_t count = MountTable::current().entries().size();
                if (count != 1 && count != 2)
                    ++torn;
            }
        });
    }
    for (int i = 0; i < 2000; ++i)
        scripted->setText(i % 2 ? small : large);
    stop = true;
    for (std::thread &reader : readers)
        reader.join();
    MountTable::setSourceForTesting(nullptr);
    EXPECT_EQ(torn, 0);
}

TEST(MountTable, ScriptedSourceReplacesTheSystemTable)
{
    auto scripted = std::make_shared<ScriptedMountInfoSource>("27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                                              "90 27 0:60 / /Volumes/Data rw - vfat /dev/sdz1 rw\n");
    MountTable::setSourceForTesting(scripted);
    EXPECT_EQ(MountTable::current().mountForPath("/Volumes/Data/x")->fileSystemType, "vfat");
    scripted->setText("27 1 254:0 / / rw - ext4 /dev/vda rw\n");
    EXPECT_EQ(MountTable::current().mountForPath("/Volumes/Data/x")->mountPoint, "/");
    MountTable::setSourceForTesting(nullptr);
    EXPECT_TRUE(std::dynamic_pointer_cast<const ProcMountInfoSource>(MountTable::source()));
}

TEST(MountTable, UnreadableSourceGivesAnEmptyTable)
{
    const ProcMountInfoSource missing("/nonexistent/mountinfo");
    EXPECT_FALSE(missing.read());
    MountTable::setSourceForTesting(std::make_shared<ProcMountInfoSource>("/nonexistent/mountinfo"));
    EXPECT_TRUE(MountTable::current().entries().empty());
    MountTable::setSourceForTesting(nullptr);
}

TEST(MountTable, LiveTableHoldsTheTemporaryFolder)
{
    const MountTable table = MountTable::current();
    ASSERT_TRUE(table.mountAt("/"));
    TemporaryDirectory folder;
    const std::optional<MountEntry> mount = table.mountForPath(realPathOf(folder.path()));
    ASSERT_TRUE(mount);
    struct stat status;
    ASSERT_EQ(stat(mount->mountPoint.c_str(), &status), 0);
    // The folder's mount is the one its device number names (bind mounts and btrfs aside).
    if (mount->fileSystemType != "btrfs") {
        struct stat folderStatus;
        ASSERT_EQ(stat(folder.path().c_str(), &folderStatus), 0);
        EXPECT_EQ(major(folderStatus.st_dev), mount->major);
        EXPECT_EQ(minor(folderStatus.st_dev), mount->minor);
    }
}

TEST(MountTable, TheCurrentTableFollowsRealMountsAndUnmounts)
{
    if (!isRoot())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    TemporaryDirectory folder;
    const std::string point = folder.file("point");
    ASSERT_EQ(::mkdir(point.c_str(), 0755), 0);
    EXPECT_FALSE(MountTable::current().mountAt(point));
    {
        ScopedMount mounted("tmpfs", point);
        ASSERT_TRUE(mounted.isMounted()) << mounted.failure();
        const auto entry = MountTable::current().mountAt(point);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->fileSystemType, "tmpfs");
    }
    EXPECT_FALSE(MountTable::current().mountAt(point)) << "a cached table must not outlive the mount";
}
