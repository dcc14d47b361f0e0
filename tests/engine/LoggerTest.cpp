#include "FileManagerExtensions.h"
#include "Logger.h"
#include "MonotonicClock.h"
#include "SystemLog.h"
#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
class RecordingDelegate : public LogDelegate
{
public:
    void addToLogString(const std::string &s) override { lines.push_back(s); }
    std::vector<std::string> lines;
};

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class LoggerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        folder = FileManager::appCachesDirectory().path();
        today = folder + "/Today's Log.txt";
        yesterday = folder + "/Yesterday's Log.txt";
        std::remove(today.c_str());
        std::remove(yesterday.c_str());
        sinkToken = SystemLog::addSink([this](const std::string &m) {
            std::lock_guard lock(mutex);
            systemLog.push_back(m);
        });
    }
    void TearDown() override
    {
        SystemLog::removeSink(sinkToken);
        Logger::shared().setNowForTesting({});
    }

    std::string folder, today, yesterday;
    std::mutex mutex;
    std::vector<std::string> systemLog;
    int sinkToken = 0;
};
}

TEST_F(LoggerTest, EachMessageBecomesOneDatedLineAndGoesBareToTheSystemLog)
{
    Logger::shared().log("first %@ %s 100%");
    Logger::shared().log("already ends\n");
    Logger::shared().log("");
    const std::string text = readFile(today);
    const auto lines = splitLines(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find("\n\n"), std::string::npos) << "a message's own line feed is not doubled";
    EXPECT_TRUE(lines[0].ends_with(" first %@ %s 100%")) << lines[0];
    EXPECT_GT(lines[0].size(), std::string(" first %@ %s 100%").size() + 8) << "a date comes first";
    EXPECT_TRUE(lines[2].ends_with(" ")) << "an empty message keeps the date and the space";
    std::lock_guard lock(mutex);
    ASSERT_GE(systemLog.size(), 3u);
    EXPECT_EQ(systemLog[systemLog.size() - 3], "first %@ %s 100%") << "verbatim, never a format";
    EXPECT_EQ(systemLog[systemLog.size() - 2], "already ends\n");
}

TEST_F(LoggerTest, FirstLineOfANewDayRotatesTodayIntoYesterday)
{
    writeFile(yesterday, "older generation\n");
    Logger::shared().log("day one");
    EXPECT_TRUE(readFile(yesterday) == "older generation\n") << "no rotation while the file is from today";

    const Date tomorrow{Date::now().secondsSince1970 + Date::oneDayInSeconds};
    Logger::shared().setNowForTesting([tomorrow] { return tomorrow; });
    Logger::shared().log("day two");
    const auto yesterdayLines = splitLines(readFile(yesterday));
    const auto todayLines = splitLines(readFile(today));
    ASSERT_EQ(yesterdayLines.size(), 1u);
    EXPECT_TRUE(yesterdayLines[0].ends_with(" day one"));
    ASSERT_EQ(todayLines.size(), 1u);
    EXPECT_TRUE(todayLines[0].ends_with(" day two"));
    EXPECT_EQ(Logger::shared().logContents(), readFile(yesterday) + readFile(today));
}

TEST_F(LoggerTest, ALineTheDiskRefusesLeavesATraceInTheSystemLog)
{
    // A file size limit at the log's present size stands for a full disk (EFBIG, its signal ignored).
    Logger::shared().log("stored");
    struct stat status;
    ASSERT_EQ(::stat(today.c_str(), &status), 0);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit full = saved;
    full.rlim_cur = rlim_t(status.st_size);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    Logger::shared().log("cannot be stored");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    std::remove(today.c_str());
    std::lock_guard lock(mutex);
    ASSERT_FALSE(systemLog.empty());
    EXPECT_TRUE(systemLog.back().starts_with("Logger: Can't write log file: ")) << systemLog.back();
}

TEST_F(LoggerTest, ALineDatedBeforeTodaysFileWasMadeDoesNotRotateAgain)
{
    writeFile(yesterday, "the day just ended\n");
    Logger::shared().log("first line after midnight");
    const Date beforeMidnight{Date::now().secondsSince1970 - Date::oneDayInSeconds};
    Logger::shared().setNowForTesting([beforeMidnight] { return beforeMidnight; });
    Logger::shared().log("dated before midnight, stored after");
    EXPECT_EQ(readFile(yesterday), "the day just ended\n");
    EXPECT_EQ(splitLines(readFile(today)).size(), 2u);
}

TEST_F(LoggerTest, ContentsAreYesterdayThenTodayAndEmptyWithNeitherFile)
{
    EXPECT_EQ(Logger::shared().logContents(), std::string());
    writeFile(yesterday, "from yesterday\n");
    EXPECT_EQ(Logger::shared().logContents(), std::string("from yesterday\n"));
    writeFile(today, "from today\n");
    EXPECT_EQ(Logger::shared().logContents(), std::string("from yesterday\nfrom today\n"));
}

TEST_F(LoggerTest, BytesThatAreNotUTF8AreKeptAsReplacementCharacters)
{
    Logger::shared().log(std::string("bad \xff\xfe name"));
    const std::string text = readFile(today);
    EXPECT_NE(text.find("bad \xEF\xBF\xBD\xEF\xBF\xBD name"), std::string::npos) << text;
}

TEST_F(LoggerTest, ListenersHearLinesAfterRegistrationOnTheMainThreadAndReleasedOnesAreDropped)
{
    auto listener = std::make_shared<RecordingDelegate>();
    Logger::shared().log("before registration");
    Logger::shared().addDelegate(listener);
    Logger::shared().log("after registration");
    ASSERT_TRUE(runEventLoopUntil([&] { return !listener->lines.empty(); }));
    runEventLoopFor(std::chrono::milliseconds(20));
    // The line logged before the call is delivered before the registration hop runs.
    ASSERT_EQ(listener->lines.size(), 1u);
    EXPECT_TRUE(listener->lines[0].ends_with(" after registration\n"));

    auto released = std::make_shared<RecordingDelegate>();
    Logger::shared().addDelegate(released);
    std::weak_ptr<RecordingDelegate> watch = released;
    released.reset();
    Logger::shared().log("to the living only");
    ASSERT_TRUE(runEventLoopUntil([&] { return listener->lines.size() == 2; }));
    EXPECT_TRUE(watch.expired());
}

TEST_F(LoggerTest, ConcurrentCallersLoseNoLineAndSplitNone)
{
    constexpr int threads = 8, perThread = 1000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                Logger::shared().log("worker " + std::to_string(t) + " line " + std::to_string(i) + " end");
        });
    for (auto &worker : workers)
        worker.join();
    const auto lines = splitLines(readFile(today));
    ASSERT_EQ(lines.size(), size_t(threads * perThread));
    std::vector<int> next(threads, 0);
    for (const auto &line : lines) {
        const auto at = line.find(" worker ");
        ASSERT_NE(at, std::string::npos) << line;
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str() + at, " worker %d line %d end", &t, &i), 2) << line;
        ASSERT_TRUE(line.ends_with(" end")) << line;
        EXPECT_EQ(i, next[t]++) << "each thread's lines stay in its order";
    }
    runEventLoopFor(std::chrono::milliseconds(10)); // let the queued listener hops drain
}

TEST_F(LoggerTest, RotatesByModificationTimeWhereTheFileSystemKeepsNoBirthTime)
{
    if (!isRoot())
        GTEST_SKIP() << "needs root to mount a ramfs (no birth times)";
    TemporaryDirectory mountPoint;
    ASSERT_EQ(mount("none", mountPoint.path().c_str(), "ramfs", 0, nullptr), 0);
    const char *previous = std::getenv("XDG_CACHE_HOME");
    const std::string saved = previous ? previous : "";
    setenv("XDG_CACHE_HOME", mountPoint.path().c_str(), 1);
    const std::string ramToday = FileManager::appCachesDirectory().path() + "/Today's Log.txt";
    writeFile(ramToday, "written two days ago\n");
    const timespec twoDaysAgo{time(nullptr) - 2 * 86400, 0};
    const timespec times[2] = {twoDaysAgo, twoDaysAgo};
    ASSERT_EQ(utimensat(AT_FDCWD, ramToday.c_str(), times, 0), 0);

    Logger::shared().log("fresh day");
    const std::string ramYesterday = FileManager::appCachesDirectory().path() + "/Yesterday's Log.txt";
    const std::string yesterdayText = readFile(ramYesterday);
    const std::string todayText = readFile(ramToday);
    setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    // The log is kept open; the next line goes to the restored caches folder and lets go of the disk.
    Logger::shared().log("back home");
    EXPECT_EQ(umount(mountPoint.path().c_str()), 0) << std::strerror(errno);
    EXPECT_EQ(yesterdayText, "written two days ago\n");
    EXPECT_TRUE(todayText.ends_with(" fresh day\n")) << todayText;
}

TEST_F(LoggerTest, TheLogKeptOpenIsMadeAgainWhenAnotherHandRemovedOrReplacedIt)
{
    Logger::shared().log("one");
    ASSERT_EQ(std::remove(today.c_str()), 0);
    Logger::shared().log("two");
    auto lines = splitLines(readFile(today));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" two"));

    writeFile(today + ".new", "replaced\n");
    ASSERT_EQ(std::rename((today + ".new").c_str(), today.c_str()), 0);
    Logger::shared().log("three");
    lines = splitLines(readFile(today));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "replaced");
    EXPECT_TRUE(lines[1].ends_with(" three"));
}

TEST_F(LoggerTest, ALogMovedAwayIsLeftOnceASecondHasPassed)
{
    MonotonicClock::TimePoint clock = MonotonicClock::now();
    MonotonicClock::setNowForTesting([&clock] { return clock; });
    Logger::shared().log("one");
    const std::string moved = folder + "/moved away.txt";
    ASSERT_EQ(std::rename(today.c_str(), moved.c_str()), 0);
    clock += std::chrono::milliseconds(1001);
    Logger::shared().log("two");
    MonotonicClock::setNowForTesting({});
    const auto lines = splitLines(readFile(today));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" two"));
    EXPECT_EQ(splitLines(readFile(moved)).size(), 1u);
    std::remove(moved.c_str());
}

TEST_F(LoggerTest, LinesOfOneSecondShareItsDateAndTheNextSecondHasItsOwn)
{
    const double second = std::floor(Date::now().secondsSince1970);
    const auto dateOf = [](const std::string &line) { return line.substr(0, line.rfind(' ')); };
    std::vector<std::string> dates;
    for (const double at : {second + 0.2, second + 0.9, second + 1.1, second - 86400.5}) {
        Logger::shared().setNowForTesting([at] { return Date{at}; });
        Logger::shared().log("x");
        dates.push_back(dateOf(splitLines(readFile(today)).back()));
    }
    EXPECT_EQ(dates[0], dates[1]);
    EXPECT_NE(dates[1], dates[2]);
    EXPECT_NE(dates[2], dates[3]);
    EXPECT_NE(dates[0], dates[3]);
}

namespace
{
// Runs the work on a thread and waits for it up to a deadline; work still blocked then is let
// go by the release, so that the test ends either way. True when it returned in time.
bool returnsPromptly(const std::function<void()> &work, const std::function<void()> &release)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    const bool inTime = done;
    if (!inTime)
        release();
    worker.join();
    return inTime;
}
}

TEST_F(LoggerTest, AFifoInPlaceOfTheLogNeverBlocksAndIsReportedOnce)
{
    Logger::shared().log("before");
    ASSERT_EQ(std::remove(today.c_str()), 0);
    ASSERT_EQ(mkfifo(today.c_str(), 0644), 0);

    // A reader stuck on the FIFO is let go by a writer that comes and goes.
    std::optional<std::string> contents;
    EXPECT_TRUE(returnsPromptly([&] { contents = Logger::shared().logContents(); },
                                [&] { ::close(::open(today.c_str(), O_WRONLY | O_NONBLOCK)); }))
        << "reading the log blocked on a FIFO";
    EXPECT_EQ(contents, std::string()) << "a FIFO is no log to show";

    // A writer stuck in open() is let go by a reader, held until the writer is done so that
    // a line written into the pipe raises no SIGPIPE.
    int reader = -1;
    EXPECT_TRUE(returnsPromptly(
        [] {
            Logger::shared().log("into the fifo");
            Logger::shared().log("again");
        },
        [&] { reader = ::open(today.c_str(), O_RDONLY | O_NONBLOCK); }))
        << "logging blocked on a FIFO named as the log";
    if (reader >= 0)
        ::close(reader);
    std::remove(today.c_str());

    std::lock_guard lock(mutex);
    const auto reports = std::count_if(systemLog.begin(), systemLog.end(), [](const std::string &m) {
        return m.starts_with("Logger: Can't open log file:");
    });
    EXPECT_EQ(reports, 1) << "a log that cannot be opened is reported once, not for every line";
}
