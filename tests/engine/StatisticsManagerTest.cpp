#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "../store/LogCapture.h"
#include "../store/StoreTestEnvironment.h"
#include "MainThread.h"
#include "NotificationCenter.h"
#include "StatisticsManager.h"

using namespace std::chrono_literals;

namespace
{
class StatisticsManagerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_manager->setClockForTesting([this] { return m_now; });
        m_observer = NotificationCenter::defaultCenter().addObserver(
            StatisticsManager::updatedNotificationName, nullptr, nullptr, [this](const Notification &) {
                EXPECT_TRUE(MainThread::isCurrent());
                ++m_posts;
            });
    }

    void TearDown() override { NotificationCenter::defaultCenter().removeObserver(m_observer); }

    URL onVolume(const std::string &volume, const std::string &rest)
    {
        const std::string path = m_environment.volume(volume) + "/" + rest;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        writeFile(path, "x");
        return URL::fileURLWithPath(path);
    }

    bool request(const URL &url) { return m_manager->hasBeenDeletedTooOften(url); }

    std::vector<std::string> volumeNames() const
    {
        std::vector<std::string> names;
        for (const auto &statistics : m_manager->volumeMetaDataStatistics())
            names.push_back(statistics->volumeURL().lastPathComponent());
        return names;
    }

    StoreTestEnvironment m_environment;
    std::shared_ptr<StatisticsManager> m_manager = StatisticsManager::create();
    MonotonicClock::TimePoint m_now = MonotonicClock::TimePoint() + 1000h;
    NotificationCenter::ObserverToken m_observer;
    int m_posts = 0;
};
}

TEST_F(StatisticsManagerTest, TheEleventhRequestOfAChainIsRefusedAndLogged)
{
    const URL folder = URL::fileURLWithPath("/Volumes/Stick/.Trashes");
    LogCapture log;
    for (int i = 1; i <= 10; ++i) {
        EXPECT_FALSE(request(folder)) << "request " << i;
        m_now += 59s;
    }
    EXPECT_EQ(log.countContaining("Too many requests"), 0u);
    EXPECT_TRUE(request(folder));
    m_now += 1s;
    EXPECT_TRUE(request(folder));
    EXPECT_EQ(log.countContaining("Too many requests to delete item. Will ignore:/Volumes/Stick/.Trashes"), 2u);
    // Another path has a chain of its own.
    EXPECT_FALSE(request(URL::fileURLWithPath("/Volumes/Stick/.fseventsd")));
}

TEST_F(StatisticsManagerTest, ExactlySixtySecondsContinuesAChainAndMoreStartsANewOne)
{
    const URL folder = URL::fileURLWithPath("/Volumes/Stick/.Spotlight-V100");
    for (int i = 1; i <= 10; ++i) {
        EXPECT_FALSE(request(folder)) << "request " << i;
        m_now += 60s;
    }
    EXPECT_TRUE(request(folder)) << "every gap was exactly 60 seconds";

    m_now += 60s + 1ms;
    for (int i = 1; i <= 10; ++i)
        EXPECT_FALSE(request(folder)) << "request " << i << " of the new chain";
    EXPECT_TRUE(request(folder));

    m_manager->clearHistory();
    EXPECT_FALSE(request(folder)) << "a cleared history starts a new chain";
}

TEST_F(StatisticsManagerTest, ConcurrentRequestsAndQueueingCountEachCallOnce)
{
    const URL folder = URL::fileURLWithPath("/Volumes/Stick/.Trashes");
    std::atomic<int> refused{0};
    std::atomic<int> queued{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                if (m_manager->hasBeenDeletedTooOften(folder))
                    ++refused;
                if (m_manager->addToRecleanQueueIfAbsent(folder))
                    ++queued;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(refused, 200 - 10);
    EXPECT_EQ(queued, 1);
    m_manager->addToRecleanQueue(folder);
    EXPECT_EQ(m_manager->queuedReclean().size(), 2u);
    m_manager->removeFromRecleanQueue(folder);
    EXPECT_FALSE(m_manager->isInRecleanQueue(folder)) << "every equal URL goes";
}

TEST_F(StatisticsManagerTest, OneVolumeOneEntryInOrderOfCreation)
{
    const auto first = m_manager->volumeItemFor(onVolume("STICK", "a/.DS_Store"));
    const auto second = m_manager->volumeItemFor(onVolume("STICK", "b/c/._x"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    m_manager->volumeItemFor(onVolume("NTFS", "x"));
    EXPECT_EQ(volumeNames(), (std::vector<std::string>{"STICK", "NTFS"}));
    EXPECT_EQ(first->volumeURL().path(), m_environment.volume("STICK"));

    m_environment.source().setMissing(m_environment.volume("Share"));
    EXPECT_FALSE(m_manager->volumeItemFor(URL::fileURLWithPath(m_environment.volume("Share") + "/x")));
    EXPECT_EQ(volumeNames().size(), 2u);
}

TEST_F(StatisticsManagerTest, DeletionsAreCountedOnTheMainThreadWithOneAnnouncement)
{
    m_manager->deletedItem(std::nullopt);
    runEventLoopFor(50ms);
    EXPECT_EQ(m_posts, 0) << "no information, no change";

    const URL item = onVolume("STICK", "Photos/._a.jpg");
    const auto information = StatisticsManager::DeletionInformation::forItem(item);
    ASSERT_TRUE(information);
    EXPECT_EQ(information->volume.path(), m_environment.volume("STICK"));
    EXPECT_EQ(information->lastItemDeletedName, "Photos");

    // Reported from a cleaning thread; counted and announced on the main thread.
    std::thread cleaner([&] {
        for (int i = 0; i < 5; ++i)
            m_manager->deletedItem(information);
        m_manager->updateLastCleanDate(item);
    });
    cleaner.join();
    EXPECT_TRUE(m_manager->volumeMetaDataStatistics().empty()) << "changes wait for the main thread";

    ASSERT_TRUE(runEventLoopUntil([&] { return m_posts > 0; }));
    runEventLoopFor(100ms);
    EXPECT_EQ(m_posts, 1);
    const auto statistics = m_manager->volumeItemFor(item);
    EXPECT_EQ(statistics->numberOfItemsDeleted(), 5);
    EXPECT_EQ(statistics->lastFolderCleanedName(), "Photos");
    EXPECT_TRUE(statistics->lastCleaned());
    EXPECT_FALSE(m_manager->updateScheduled());

    m_manager->deletedItem(information);
    ASSERT_TRUE(runEventLoopUntil([&] { return m_posts == 2; })) << "a later change is announced again";
    EXPECT_EQ(statistics->numberOfItemsDeleted(), 6);
}

TEST_F(StatisticsManagerTest, AnUnmountDropsOnlyThatVolumesStatistics)
{
    for (const char *volume : {"STICK", "NTFS", "EFI"})
        m_manager->volumeItemFor(onVolume(volume, "x"));

    Dictionary info{{NotificationCenter::DevicePathKey, Value(m_environment.volume("ROStick"))}};
    NotificationCenter::workspaceCenter().post(NotificationCenter::DidUnmountNotification, nullptr, info);
    NotificationCenter::workspaceCenter().post(NotificationCenter::DidUnmountNotification, nullptr, {});
    EXPECT_EQ(volumeNames(), (std::vector<std::string>{"STICK", "NTFS", "EFI"}));

    // Gone from the mount table, the disk is known by its name alone, as is its entry.
    m_environment.source().setMissing(m_environment.volume("NTFS"));
    info[NotificationCenter::DevicePathKey] = Value(m_environment.volume("NTFS"));
    NotificationCenter::workspaceCenter().post(NotificationCenter::DidUnmountNotification, nullptr, info);
    EXPECT_EQ(volumeNames(), (std::vector<std::string>{"STICK", "EFI"}));
    runEventLoopFor(50ms);
    EXPECT_EQ(m_posts, 0) << "an unmount is not announced";
}

TEST_F(StatisticsManagerTest, ADiskIsKnownByItsKeyWhereverItIsMounted)
{
    const auto moved = std::make_shared<ScriptedVolumeFactsSource>("22 1 8:1 / / rw shared:1 - ext4 /dev/sda1 rw\n"
                                                                   "50 22 8:97 / /media/Stick rw shared:2 - vfat /dev/sdf1 rw\n"
                                                                   "51 22 8:98 / /mnt/Stick rw shared:3 - vfat /dev/sdf1 rw\n"
                                                                   "52 22 8:99 / /mnt/Other rw shared:4 - vfat /dev/sdg1 rw\n");
    for (const char *mountPoint : {"/", "/media/Stick", "/mnt/Stick", "/mnt/Other"})
        moved->setStatfs(mountPoint, {4096, 1000});
    ScopedVolumeFactsSource scoped(moved);

    const auto first = m_manager->volumeItemFor(URL::fileURLWithPath("/media/Stick/x"));
    ASSERT_TRUE(first);
    EXPECT_EQ(m_manager->volumeItemFor(URL::fileURLWithPath("/mnt/Stick/y")), first);
    EXPECT_NE(m_manager->volumeItemFor(URL::fileURLWithPath("/mnt/Other/z")), first);
    EXPECT_EQ(m_manager->volumeMetaDataStatistics().size(), 2u);
}
