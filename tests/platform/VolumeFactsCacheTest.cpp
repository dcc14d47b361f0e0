#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "DeviceRoots.h"
#include "MountTable.h"
#include "TestSupport.h"
#include "VolumeFacts.h"

namespace
{
std::string realPathOf(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : "";
}

// A scripted mount table with a disk mounted on a temporary folder, and a device folder
// that labels one of two devices.
class VolumeFactsCache : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_volume = realPathOf(m_temporary.path()) + "/Stick";
        ASSERT_EQ(mkdir(m_volume.c_str(), 0755), 0);
        m_dev = m_temporary.path() + "/dev";
        ASSERT_EQ(mkdir(m_dev.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((m_dev + "/disk").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((m_dev + "/disk/by-label").c_str(), 0755), 0);
        writeFile(m_dev + "/sdb1", "");
        writeFile(m_dev + "/sdc1", "");
        ASSERT_EQ(symlink("../../sdb1", (m_dev + "/disk/by-label/First").c_str()), 0);
        m_scripted = std::make_shared<ScriptedMountInfoSource>(tableWithSource("/dev/sdb1"));
        MountTable::setSourceForTesting(m_scripted);
    }

    void TearDown() override
    {
        MountTable::setSourceForTesting(nullptr);
        DeviceRoots::setDevRootForTesting({});
    }

    std::string tableWithSource(const std::string &source) const
    {
        return "27 1 254:0 / / rw - ext4 /dev/vda rw\n90 27 8:17 / " + m_volume + " rw - vfat " + source + " rw\n";
    }

    TemporaryDirectory m_temporary;
    std::string m_volume;
    std::string m_dev;
    std::shared_ptr<ScriptedMountInfoSource> m_scripted;
};
}

TEST_F(VolumeFactsCache, SnapshotStaysTheSameUntilTheTableChanges)
{
    const MountTable::Snapshot first = MountTable::snapshot();
    const MountTable::Snapshot again = MountTable::snapshot();
    EXPECT_EQ(first.table, again.table);
    EXPECT_EQ(first.stamp, again.stamp);
    ASSERT_TRUE(first.table->mountAt(m_volume));

    m_scripted->setText(tableWithSource("/dev/sdc1"));
    const MountTable::Snapshot changed = MountTable::snapshot();
    EXPECT_NE(changed.stamp, first.stamp);
    EXPECT_EQ(changed.table->mountAt(m_volume)->source, "/dev/sdc1");
    EXPECT_EQ(MountTable::current(), *changed.table);
}

TEST_F(VolumeFactsCache, LabelFollowsTheMountTableAndTheDeviceFolder)
{
    writeFile(m_volume + "/file", "x");
    // No device folder yet: the volume is named after its mount point.
    EXPECT_EQ(VolumeFacts::forPath(m_volume + "/file")->name, "Stick");

    DeviceRoots::setDevRootForTesting(m_dev);
    EXPECT_EQ(VolumeFacts::forPath(m_volume + "/file")->name, "First");
    EXPECT_EQ(VolumeFacts::forPath(m_volume)->name, "First");

    // The same mount point with another device behind it, as after a remount.
    m_scripted->setText(tableWithSource("/dev/sdc1"));
    EXPECT_EQ(VolumeFacts::forPath(m_volume + "/file")->name, "Stick");
    EXPECT_EQ(VolumeFacts::forPath(m_volume + "/file")->source, "/dev/sdc1");
}

TEST_F(VolumeFactsCache, ReadersMeetOnlyWholeTables)
{
    DeviceRoots::setDevRootForTesting(m_dev);
    std::atomic<bool> stop{false};
    std::atomic<int> mismatched{0};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const std::optional<VolumeFacts> facts = VolumeFacts::forPath(m_volume);
                // The label always belongs to the device the facts name.
                const bool consistent = facts
                                        && ((facts->source == "/dev/sdb1" && facts->name == "First")
                                            || (facts->source == "/dev/sdc1" && facts->name == "Stick"));
                if (!consistent)
                    ++mismatched;
                ++reads;
            }
        });
    }
    for (int i = 0; i < 500 || reads < 100; ++i)
        m_scripted->setText(tableWithSource(i % 2 ? "/dev/sdb1" : "/dev/sdc1"));
    stop = true;
    for (std::thread &reader : readers)
        reader.join();
    EXPECT_EQ(mismatched, 0);
}
