#include "FenDispatch.h"
#include "MainThread.h"
#include "TestSupport.h"
#include "WindowFadeIn.h"

#include <QTest>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{
TEST(FenDispatchTest, OnMainRunsOnTheMainThreadAfterTheCall)
{
    std::atomic<bool> ran{false};
    std::atomic<bool> onMain{false};
    fenDispatchOnMain([&] {
        onMain = MainThread::isCurrent();
        ran = true;
    });
    EXPECT_FALSE(ran);
    ASSERT_TRUE(runEventLoopUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onMain);

    ran = false;
    std::thread([&] { fenDispatchOnMain([&] { ran = MainThread::isCurrent(); }); }).join();
    EXPECT_TRUE(runEventLoopUntil([&] { return ran.load(); }));
}

TEST(FenDispatchTest, SeriallyRunsOneAtATimeInOrderOffTheMainThread)
{
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onMain{false};
    constexpr int count = 200;
    for (int i = 0; i < count; ++i) {
        fenDispatchSerially([&, i] {
            if (running.fetch_add(1) != 0)
                overlapped = true;
            onMain = onMain || MainThread::isCurrent();
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
            }
            running.fetch_sub(1);
        });
    }
    ASSERT_TRUE(runEventLoopUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() == size_t(count);
    }));
    std::vector<int> expected(count);
    for (int i = 0; i < count; ++i)
        expected[size_t(i)] = i;
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(onMain);
}

TEST(FenDispatchTest, ConcurrentlyRunsBlocksAtTheSameTime)
{
    // Each block waits to see the other running: only blocks running side by side both finish.
    std::atomic<int> started{0};
    std::atomic<int> sawTheOther{0};
    std::atomic<int> finished{0};
    for (int i = 0; i < 2; ++i) {
        fenDispatchConcurrently([&] {
            started.fetch_add(1);
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (started.load() < 2 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            if (started.load() == 2 && !MainThread::isCurrent())
                sawTheOther.fetch_add(1);
            finished.fetch_add(1);
        });
    }
    ASSERT_TRUE(runEventLoopUntil([&] { return finished.load() == 2; }, 20s));
    EXPECT_EQ(sawTheOther.load(), 2);
}

TEST(FenDispatchTest, AfterDelayRunsOnTheMainThreadOnceTheTimeHasPassed)
{
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> ran{false};
    std::atomic<bool> onMain{false};
    std::chrono::steady_clock::time_point ranAt;
    std::thread([&] {
        fenDispatchAfterDelay(
            [&] {
                ranAt = std::chrono::steady_clock::now();
                onMain = MainThread::isCurrent();
                ran = true;
            },
            0.5);
    }).join();
    ASSERT_TRUE(runEventLoopUntil([&] { return ran.load(); }));
    EXPECT_GE(ranAt - start, 500ms);
    EXPECT_TRUE(onMain);
}

TEST(FenDispatchTest, AfterDelayRunsAtOnceForNoTimeAndNeverPastTheClocksEnd)
{
    std::atomic<int> ran{0};
    fenDispatchAfterDelay([&] { ran.fetch_add(1); }, -3);
    fenDispatchAfterDelay([&] { ran.fetch_add(1); }, std::nan(""));
    fenDispatchAfterDelay([&] { ran.fetch_add(100); }, 1e300);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_TRUE(runEventLoopUntil([&] { return ran.load() >= 2; }));
    runEventLoopFor(50ms);
    EXPECT_EQ(ran.load(), 2);
}

// The offscreen platform warns at every change of a window's opacity.
QtMessageHandler g_formerHandler = nullptr;

void quietAboutOpacity(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.contains(QLatin1String("window opacity")))
        g_formerHandler(type, context, message);
}

TEST(WindowFadeInTest, ShowsTheWindowTransparentAndFadesItIn)
{
    g_formerHandler = qInstallMessageHandler(quietAboutOpacity);
    QWidget window;
    window.resize(80, 60);
    makeKeyAndOrderFrontFadeIn(&window);
    EXPECT_TRUE(window.isVisible());
    EXPECT_LT(window.windowOpacity(), 0.5);
    EXPECT_TRUE(runEventLoopUntil([&] { return window.windowOpacity() == 1.0; }));

    // Asked again, the window starts over from transparent.
    makeKeyAndOrderFrontFadeIn(&window);
    EXPECT_LT(window.windowOpacity(), 0.5);
    EXPECT_TRUE(runEventLoopUntil([&] { return window.windowOpacity() == 1.0; }));
    qInstallMessageHandler(g_formerHandler);
}
}
