#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DateFormatter.h"
#include "LogDelegate.h"
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

    Date now() const;
    std::optional<LogURLs> logURLs() const;
    void tellDelegatesAboutNewString(const std::string &line);
    void rotateIfNeeded(const LogURLs &urls, const Date &now);
    static void append(const std::string &path, const std::string &bytes);

    std::vector<WeakObject<LogDelegate>> m_delegates;
    DateFormatter m_dateFormatter;
    std::mutex m_fileMutex;
    mutable std::mutex m_clockMutex;
    std::function<Date()> m_now;
};

// The log's entry point for callers that only know it by name.
class LoggerObjc
{
public:
    static void log(const std::string &message);
};
