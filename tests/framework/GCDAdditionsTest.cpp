#include "GCDAdditions.h"
#include "MainThread.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{
// A monotonic clock the test moves by hand, so that ages are exact.
class ManualClock
{
public:
    ManualClock()
    {
        MonotonicClock::setNowForTesting([this] { return m_now.load(); });
    }
    ~ManualClock() { MonotonicClock::setNowForTesting({}); }
    void advance(std::chrono::milliseconds by) { m_now = m_now.load() + by; }

private:
    std::atomic<MonotonicClock::TimePoint> m_now{std::chrono::steady_clock::now()};
};

std::string uniqueName(const char *base)
{
    static int counter = 0;
    return std::string(base) + "-" + std::to_string(++counter);
}
}

TEST(GCDAdditions, OnMainIsAlwaysAsynchronous)
{
    bool ran = false;
    GCDAdditions::onMain([&] { ran = true; });
    EXPECT_FALSE(ran) << "must not run inside the call, even on the main thread";
    EXPECT_TRUE(runEventLoopUntil([&] { return ran; }));
}

TEST(GCDAdditions, OnMainFromOtherThreadsRunsOnMainInPostingOrder)
{
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            GCDAdditions::onMain([&, i] {
                allOnMain = allOnMain && MainThread::isCurrent();
                order.push_back(i);
            });
    });
    poster.join();
    ASSERT_TRUE(runEventLoopUntil([&] { return order.size() == 100; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(GCDAdditions, SeriallyRunsInOrderOffTheMainThreadWithoutOverlap)
{
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false}, onMain{false};
    std::atomic<int> done{0};
    for (int i = 0; i < 20; ++i)
        GCDAdditions::defaultInstance().serially([&, i] {
            if (++running > 1)
                overlapped = true;
            if (MainThread::isCurrent())
                onMain = true;
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
            }
            std::this_thread::yield();
            --running;
            ++done;
        });
    ASSERT_TRUE(runEventLoopUntil([&] { return done == 20; }));
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(onMain);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(GCDAdditions, DelayedBlockRunsOnMainNoEarlierThanTheDelay)
{
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point ranAt;
    bool onMain = false;
    auto operation = GCDAdditions::performBlockAfterDelay(0.05f, [&] {
        ranAt = std::chrono::steady_clock::now();
        onMain = MainThread::isCurrent();
    });
    ASSERT_NE(operation, nullptr);
    EXPECT_EQ(dynamic_cast<BlockOperationWithTime *>(operation.get()), nullptr) << "a plain block operation";
    ASSERT_TRUE(runEventLoopUntil([&] { return operation->isFinished(); }));
    EXPECT_TRUE(onMain);
    EXPECT_GE(ranAt - start, 50ms);
}

TEST(GCDAdditions, CancelledDelayedBlockNeverRuns)
{
    bool ran = false;
    auto cancelled = GCDAdditions::performBlockAfterDelay(0.02f, [&] { ran = true; });
    cancelled->cancel();
    bool later = false;
    GCDAdditions::performBlockAfterDelay(0.05f, [&] { later = true; });
    ASSERT_TRUE(runEventLoopUntil([&] { return later; }));
    EXPECT_FALSE(ran);
    EXPECT_FALSE(cancelled->isExecuting());
}

TEST(GCDAdditions, DelayedBlocksRequestedFromPlainThreadsFire)
{
    std::atomic<int> fired{0};
    std::thread requester([&] {
        GCDAdditions::performBlockAfterTinyDelay([&] { ++fired; });
        GCDAdditions::cancelPreviousThenPerformBlockWithName(uniqueName("from-thread"), 0.01f, [&] { ++fired; });
    });
    requester.join();
    EXPECT_TRUE(runEventLoopUntil([&] { return fired == 2; }));
}

TEST(GCDAdditions, DelayNanosecondsAreTruncatedAndClamped)
{
    EXPECT_EQ(GCDAdditions::delayInNanoseconds(0.01f), 10000000);
    EXPECT_EQ(GCDAdditions::delayInNanoseconds(-1.0f), 0);
    EXPECT_EQ(GCDAdditions::delayInNanoseconds(std::nanf("")), 0);
    EXPECT_EQ(GCDAdditions::delayInNanoseconds(1e30f), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(GCDAdditions::delayInNanoseconds(std::numeric_limits<float>::infinity()),
              std::numeric_limits<std::int64_t>::max());
}

TEST(GCDAdditions, HugeAndInvalidDelaysAreSafe)
{
    bool huge = false, invalid = false;
    auto far = GCDAdditions::performBlockAfterDelay(1e30f, [&] { huge = true; });
    GCDAdditions::performBlockAfterDelay(std::nanf(""), [&] { invalid = true; });
    EXPECT_TRUE(runEventLoopUntil([&] { return invalid; })) << "NaN counts as no delay";
    EXPECT_FALSE(huge);
    far->cancel();
}

TEST(GCDAdditionsThrottle, FirstRequestRunsOnceAfterTheDelayAndLaterOnesInsideTheWindowAreDropped)
{
    ManualClock clock;
    const std::string name = uniqueName("burst");
    int first = 0, second = 0;
    auto firstOperation = GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 5.0f, [&] { ++first; });
    clock.advance(1000ms);
    auto secondOperation = GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 5.0f, [&] { ++second; });
    EXPECT_EQ(secondOperation, firstOperation) << "the stored operation comes back";
    // Exactly the delay old is still inside the window.
    clock.advance(4000ms);
    EXPECT_EQ(GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 5.0f, [&] { ++second; }), firstOperation);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    GCDAdditions::cancelBlockWithName(name);
}

TEST(GCDAdditionsThrottle, RequestAfterTheWindowOfAFinishedOperationSchedulesAnew)
{
    ManualClock clock;
    const std::string name = uniqueName("after");
    int first = 0, second = 0;
    auto firstOperation = GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 0.01f, [&] { ++first; });
    ASSERT_TRUE(runEventLoopUntil([&] { return firstOperation->isFinished(); }));
    clock.advance(20ms);
    auto secondOperation = GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 0.01f, [&] { ++second; });
    EXPECT_NE(secondOperation, firstOperation);
    EXPECT_EQ(second, 0) << "not run synchronously: the stored one had finished";
    ASSERT_TRUE(runEventLoopUntil([&] { return secondOperation->isFinished(); }));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

TEST(GCDAdditionsThrottle, OvertakingAWaitingOperationRunsTheNewBlockNowAndAgainLater)
{
    ManualClock clock;
    const std::string name = uniqueName("blocked-main");
    int first = 0, second = 0;
    // The main thread does not run its loop here, as when it is busy past the deadline.
    auto firstOperation = GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 0.01f, [&] { ++first; });
    clock.advance(50ms);
    auto secondOperation = GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 0.01f, [&] { ++second; });
    EXPECT_EQ(second, 1) << "runs before the call returns";
    EXPECT_TRUE(firstOperation->isCancelled());
    ASSERT_TRUE(runEventLoopUntil([&] { return secondOperation->isFinished(); }));
    EXPECT_EQ(second, 2) << "and once more after the delay";
    runEventLoopUntil([&] { return firstOperation->isFinished(); }, 500ms);
    EXPECT_EQ(first, 0);
}

TEST(GCDAdditionsThrottle, CancelByNameAndCaseSensitiveNames)
{
    ManualClock clock;
    const std::string name = uniqueName("Cancel");
    GCDAdditions::cancelBlockWithName(uniqueName("never-used")); // no entry: nothing happens
    int cancelled = 0, upper = 0, lower = 0;
    auto operation = GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 0.02f, [&] { ++cancelled; });
    GCDAdditions::cancelBlockWithName(name);
    EXPECT_TRUE(operation->isCancelled());
    auto fresh = GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 0.02f, [&] { ++upper; });
    EXPECT_NE(fresh, operation) << "after a cancel the name schedules afresh";
    std::string lowerName = name;
    lowerName[0] = 'c';
    auto other = GCDAdditions::cancelPreviousThenPerformBlockWithName(lowerName, 0.02f, [&] { ++lower; });
    EXPECT_NE(other, fresh);
    ASSERT_TRUE(runEventLoopUntil([&] { return upper == 1 && lower == 1; }));
    EXPECT_EQ(cancelled, 0);
}

TEST(GCDAdditionsThrottle, ManyThreadsRequestingOneNameRunOneBlock)
{
    const std::string name = uniqueName("threads");
    std::atomic<int> runs{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                GCDAdditions::cancelPreviousThenPerformBlockWithName(name, 30.0f, [&] { ++runs; });
        });
    for (auto &thread : threads)
        thread.join();
    GCDAdditions::cancelBlockWithName(name);
    runEventLoopFor(20ms);
    EXPECT_EQ(runs, 0) << "all requests fell inside the first one's window";
}
