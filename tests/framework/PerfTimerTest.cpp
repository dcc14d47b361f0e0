#include "PerfTimer.h"
#include "SystemLog.h"

#include <gtest/gtest.h>
#include <mutex>
#include <regex>
#include <vector>

namespace
{
struct LogCapture
{
    LogCapture() : token(SystemLog::addSink([this](const std::string &m) {
        std::lock_guard lock(mutex);
        lines.push_back(m);
    }))
    {
    }
    ~LogCapture() { SystemLog::removeSink(token); }
    std::vector<std::string> matching(const std::string &prefix)
    {
        std::lock_guard lock(mutex);
        std::vector<std::string> found;
        for (const auto &line : lines)
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }
    std::mutex mutex;
    std::vector<std::string> lines;
    int token;
};
}

TEST(PerfTimer, LogsElapsedSecondsWithThreeDecimalsOnlyWhenSwitchedOn)
{
    LogCapture capture;
    PerfTimer timer;
    timer.finished("perf-label");
    timer.continues("perf-label");
    const auto lines = capture.matching("perf-label");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(perf-label takes \d+\.\d{3} seconds\.)"))) << lines[0];

    PerfTimer_On = false;
    PerfTimer silent;
    silent.finished("silent-label");
    PerfTimer_On = true;
    silent.finished("silent-label"); // made while off: no start, nothing to measure
    PerfTimer_On = true;
    EXPECT_TRUE(capture.matching("silent-label").empty());
}
