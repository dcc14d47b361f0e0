#pragma once

#include <atomic>
#include <functional>
#include <sys/types.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DateFormatter.h"
#include "FileDescriptor.h"
#include "LogDelegate.h"
#include "MonotonicClock.h"
#include "Value.h"
#include "WeakObject.h"

// The application's one log: each message becomes a dated line appended to
// "Today's Log.txt" in the caches folder, is copied bare to the system log and
// is handed to the listeners on the main thread.
class Logger
{
public:
    struct LogURLs
    {
        std::string currentLogURL;
        std::string yesterdayLogURL;
    };

    static Logger &shared();

    void log(const std::string &message);
    // The messages in order, as as many lines given at one moment: one write of the file and
    // one hop to the listeners for all of them.
    void log(const std::vector<std::string> &messages);
    // Yesterday's text followed by today's; nothing only when the caches folder is unknown.
    std::optional<std::string> logContents() const;
    // Takes effect on the main thread, after this returns.
    void addDelegate(const std::shared_ptr<LogDelegate> &delegate);

    const std::string yesterdayLogFileName = "Yesterday's Log.txt";
    const std::string currentLogFileName = "Today's Log.txt";

    // Replaces the wall clock that dates lines and decides rotation; empty restores it.
    void setNowForTesting(std::function<Date()> now);

private:
    Logger();

    // Today's log, kept open between lines, with what was known of it when it was opened.
    struct OpenLog
    {
        std::string cacheHome;
        LogURLs urls;
        FileDescriptor fd;
        dev_t device = 0;
        ino_t inode = 0;
        std::optional<Date> created;
        bool failureReported = false;
        MonotonicClock::TimePoint checkedByName;
    };

    Date now() const;
    // The date and time as a line begins with them; lines of one second share the text.
    std::string dateText(const Date &date);
    std::optional<LogURLs> logURLs() const;
    void tellDelegatesAboutNewString(const std::string &line);
    void logLines(const std::string *messages, std::size_t count);
    // Under the file lock: today's log open and current, rotated when its day is over.
    bool prepareOpenLog(const Date &date);
    bool isStillTodaysLog();
    void openCurrentLog();
    void rotate();
    void append(const std::string &bytes);

    std::vector<WeakObject<LogDelegate>> m_delegates;
    // Set once a listener may exist: until then no line makes the hop to the main thread.
    std::atomic<bool> m_mayHaveDelegates{false};
    DateFormatter m_dateFormatter;
    std::mutex m_dateMutex;
    std::optional<double> m_datedSecond;
    std::string m_dateText;
    std::mutex m_fileMutex;
    OpenLog m_openLog;
    mutable std::mutex m_clockMutex;
    std::function<Date()> m_now;
};

// The log's entry point for callers that only know it by name.
class LoggerObjc
{
public:
    static void log(const std::string &message);
};
