#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SystemLog.h"

using namespace std::chrono_literals;

namespace
{
// Stands in for the system logger: keeps the lines, and can be held still.
class PretendLogger
{
public:
    PretendLogger()
    {
        SystemLog::flush(SystemLog::waitLimit);
        SystemLog::setOutputForTesting([this](const std::string &line) { take(line); });
    }

    ~PretendLogger()
    {
        release();
        SystemLog::flush(SystemLog::waitLimit);
        SystemLog::setOutputForTesting({});
    }

    void hold()
    {
        std::lock_guard lock(m_mutex);
        m_held = true;
    }

    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_changed.notify_all();
    }

    // True once the logger is held inside a line.
    bool waitUntilStuck()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [this] { return m_stuck; });
    }

    std::vector<std::string> lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    void take(const std::string &line)
    {
        std::unique_lock lock(m_mutex);
        m_stuck = m_held;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_held; });
        m_stuck = false;
        m_lines.push_back(line);
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_stuck = false;
    std::vector<std::string> m_lines;
};

double secondsOf(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
}

TEST(SystemLogTest, LinesFromManyThreadsReachTheLoggerInOrderAndWriteWaitsForThoseBefore)
{
    PretendLogger logger;
    constexpr int threads = 4, perThread = 2000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                SystemLog::post("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (std::thread &worker : workers)
        worker.join();
    SystemLog::write("the last line");
    const std::vector<std::string> lines = logger.lines();
    ASSERT_EQ(lines.size(), std::size_t(threads * perThread + 1)) << "write returned before the lines given earlier";
    EXPECT_EQ(lines.back(), "the last line");
    std::vector<int> next(threads, 0);
    for (std::size_t index = 0; index + 1 < lines.size(); ++index) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(lines[index].c_str(), "thread %d line %d", &t, &i), 2) << lines[index];
        EXPECT_EQ(i, next[t]++) << "each thread's lines keep their order";
    }
}

TEST(SystemLogTest, AStuckLoggerCostsOneShortWaitThenLinesAreLeftOutAndCounted)
{
    PretendLogger logger;
    logger.hold();
    SystemLog::post("first");
    ASSERT_TRUE(logger.waitUntilStuck());
    // With "first" held inside the logger, the bound is reached.
    for (std::size_t index = 1; index < SystemLog::capacity; ++index)
        SystemLog::post("queued " + std::to_string(index));

    const double firstWait = secondsOf([] { SystemLog::post("left out 1"); });
    EXPECT_GE(firstWait, 0.9 * std::chrono::duration<double>(SystemLog::stuckAfter).count());
    EXPECT_LT(firstWait, 30.0);
    const double laterWaits = secondsOf([] {
        for (int index = 2; index <= 100; ++index)
            SystemLog::post("left out " + std::to_string(index));
        SystemLog::write("left out 101");
    });
    EXPECT_LT(laterWaits, 0.5) << "once stuck, the logger is not waited for again";
    EXPECT_FALSE(SystemLog::flush(10ms));

    logger.release();
    ASSERT_TRUE(SystemLog::flush(30s));
    SystemLog::write("after");
    const std::vector<std::string> lines = logger.lines();
    ASSERT_EQ(lines.size(), SystemLog::capacity + 2);
    EXPECT_EQ(lines.front(), "first");
    EXPECT_EQ(lines[SystemLog::capacity - 1], "queued " + std::to_string(SystemLog::capacity - 1));
    EXPECT_EQ(lines[SystemLog::capacity],
              "Tarnwick left 101 lines out of the system log: the system logger stopped taking them in.");
    EXPECT_EQ(lines.back(), "after");
}

TEST(SystemLogTest, ASlowLoggerIsWaitedForAndLosesNothing)
{
    std::atomic<int> taken{0};
    SystemLog::flush(SystemLog::waitLimit);
    SystemLog::setOutputForTesting([&taken](const std::string &) {
        std::this_thread::sleep_for(50us);
        ++taken;
    });
    const int lines = int(SystemLog::capacity) * 3 / 2;
    for (int index = 0; index < lines; ++index)
        SystemLog::post("slow " + std::to_string(index));
    EXPECT_TRUE(SystemLog::flush(60s));
    SystemLog::setOutputForTesting({});
    EXPECT_EQ(taken.load(), lines);
}

TEST(SystemLogTest, LinesGivenJustBeforeTheProcessEndsAreWritten)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A logger that takes half a second for the lines.
            SystemLog::setOutputForTesting([](const std::string &line) {
                std::this_thread::sleep_for(500us);
                std::fprintf(stderr, "taken: %s\n", line.c_str());
            });
            for (int index = 0; index < 1000; ++index)
                SystemLog::post("line " + std::to_string(index) + " before exit");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "taken: line 999 before exit");
}
