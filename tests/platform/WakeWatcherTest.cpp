#include <gtest/gtest.h>

#include <atomic>

#include "NotificationCenter.h"
#include "OperationQueue.h"
#include "TestSupport.h"
#include "WakeWatcher.h"

using namespace std::chrono_literals;

TEST(WakeWatcherTest, AJumpOfTheBootTimeClockIsAWake)
{
    WakeWatcher watcher;
    std::chrono::nanoseconds asleep = 3s;
    watcher.setSleepClockForTesting([&asleep] { return asleep; });
    std::atomic<int> wakes{0};
    const auto observer = NotificationCenter::workspaceCenter().addObserver(
        WakeWatcher::DidWakeNotification, nullptr, &OperationQueue::main(), [&wakes](const Notification &) { ++wakes; });

    // The two clocks drift apart a little without any sleep.
    asleep += 1s;
    watcher.checkClocks();
    runEventLoopFor(50ms);
    EXPECT_EQ(wakes, 0);

    asleep += 40min;
    watcher.checkClocks();
    EXPECT_TRUE(runEventLoopUntil([&wakes] { return wakes == 1; }));
    // The same sleep is told once.
    watcher.checkClocks();
    runEventLoopFor(50ms);
    EXPECT_EQ(wakes, 1);
    NotificationCenter::workspaceCenter().removeObserver(observer);
}

TEST(WakeWatcherTest, WithoutTheLoginManagerTheClocksAreCheckedEveryMinute)
{
    WakeWatcher watcher;
    watcher.start();
    if (watcher.isListeningToLoginManager())
        GTEST_SKIP() << "the login manager answers on the system bus here";
    const QTimer *minuteCheck = watcher.findChild<QTimer *>();
    ASSERT_NE(minuteCheck, nullptr);
    EXPECT_TRUE(minuteCheck->isActive());
    EXPECT_EQ(minuteCheck->interval(), 60000);
}
