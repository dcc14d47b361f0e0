#include "Logger.h"

#include "Error.h"
#include "FileDates.h"
#include "FileDescriptor.h"
#include "FileManagerExtensions.h"
#include "GCDAdditions.h"
#include "StringExtensions.h"
#include "SystemLog.h"
#include "URL.h"
#include "Utf8.h"
#include "XdgPaths.h"

#include <QString>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Bytes that are not UTF-8 are kept as replacement characters rather than
// dropping the line.
std::string lenientUTF8(const std::string &text)
{
    if (isValidUTF8(text))
        return text;
    const QByteArray bytes = QString::fromUtf8(text.data(), qsizetype(text.size())).toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// Only a regular file is read: a FIFO or device put in the log's place must not block.
std::optional<std::string> readUTF8File(const std::string &path)
{
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (!fd.isValid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        text.append(buffer, size_t(count));
    }
    if (!utf8Data(text))
        return std::nullopt;
    return text;
}
}

Logger &Logger::shared()
{
    static Logger *logger = new Logger;
    return *logger;
}

Logger::Logger() : m_dateFormatter(DateFormatter::Style::Medium, DateFormatter::Style::Medium) {}

void Logger::setNowForTesting(std::function<Date()> now)
{
    std::lock_guard lock(m_clockMutex);
    m_now = std::move(now);
}

Date Logger::now() const
{
    std::lock_guard lock(m_clockMutex);
    return m_now ? m_now() : Date::now();
}

std::optional<Logger::LogURLs> Logger::logURLs() const
{
    try {
        const std::string folder = FileManager::appCachesDirectory().path();
        return LogURLs{folder + "/" + currentLogFileName, folder + "/" + yesterdayLogFileName};
    } catch (const Error &) {
        return std::nullopt;
    }
}

std::string Logger::dateText(const Date &date)
{
    // The medium style shows whole seconds.
    const double second = std::floor(date.secondsSince1970);
    std::lock_guard lock(m_dateMutex);
    if (m_datedSecond != second) {
        m_dateText = m_dateFormatter.stringFromDate(Date{second});
        m_datedSecond = second;
    }
    return m_dateText;
}

void Logger::log(const std::string &message)
{
    logLines(&message, 1);
}

void Logger::log(const std::vector<std::string> &messages)
{
    logLines(messages.data(), messages.size());
}

void Logger::logLines(const std::string *messages, std::size_t count)
{
    if (count == 0)
        return;
    const Date date = now();
    const std::string dated = dateText(date) + " ";
    std::string lines;
    for (std::size_t index = 0; index < count; ++index) {
        const std::string &message = messages[index];
        lines.append(dated).append(message);
        if (message.empty() || message.back() != '\n')
            lines += '\n';
        SystemLog::post(message);
    }

    if (m_mayHaveDelegates.load())
        GCDAdditions::onMain([this, lines] { tellDelegatesAboutNewString(lines); });

    const std::string bytes = lenientUTF8(lines);
    std::lock_guard lock(m_fileMutex);
    if (prepareOpenLog(date))
        append(bytes);
}

// The caches folder is looked up again only when the user's cache home changes; a log another
// hand removed, moved or replaced is opened afresh.
bool Logger::prepareOpenLog(const Date &date)
{
    const std::string cacheHome = XdgPaths::cacheHome();
    if (cacheHome != m_openLog.cacheHome || !m_openLog.fd.isValid()) {
        const std::optional<LogURLs> urls = logURLs();
        if (!urls) {
            m_openLog = OpenLog();
            return false;
        }
        m_openLog.cacheHome = cacheHome;
        m_openLog.urls = *urls;
        openCurrentLog();
    } else if (!isStillTodaysLog()) {
        openCurrentLog();
    }
    // Only a file from an earlier day moves: a line dated before the file was made (its
    // caller lost the race for the lock to one that rotated at midnight) must not rotate
    // again and push the day just ended out.
    const std::optional<Date> &created = m_openLog.created;
    if (created && !isSameLocalDay(*created, date) && created->secondsSince1970 <= date.secondsSince1970)
        rotate();
    return m_openLog.fd.isValid();
}

// A log removed or replaced by a rename has no name left, which the open file tells at once;
// one moved elsewhere keeps a name, so the name is looked up too, at most once a second:
// a burst of lines costs no lookup of the path per line.
bool Logger::isStillTodaysLog()
{
    struct stat status;
    if (::fstat(m_openLog.fd.get(), &status) != 0 || status.st_nlink == 0)
        return false;
    const MonotonicClock::TimePoint now = MonotonicClock::now();
    if (now - m_openLog.checkedByName < std::chrono::seconds(1))
        return true;
    m_openLog.checkedByName = now;
    return ::stat(m_openLog.urls.currentLogURL.c_str(), &status) == 0 && status.st_dev == m_openLog.device
           && status.st_ino == m_openLog.inode;
}

void Logger::openCurrentLog()
{
    // Made when missing; each line lands at the end even with another writer at work. Only a
    // regular file is kept: a FIFO, device or link in its place must never block or redirect a line.
    const std::string &path = m_openLog.urls.currentLogURL;
    m_openLog.fd.reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644));
    m_openLog.created.reset();
    struct stat status;
    std::string failure;
    if (!m_openLog.fd.isValid())
        failure = Error::POSIXerrno().localizedDescription();
    else if (::fstat(m_openLog.fd.get(), &status) != 0)
        failure = Error::POSIXerrno().localizedDescription();
    else if (!S_ISREG(status.st_mode))
        failure = path + " is not a regular file";
    if (!failure.empty()) {
        m_openLog.fd.reset();
        // Said once until the log opens again: every line tries anew.
        if (!m_openLog.failureReported)
            SystemLog::post("Logger: Can't open log file: " + failure);
        m_openLog.failureReported = true;
        return;
    }
    m_openLog.failureReported = false;
    m_openLog.checkedByName = MonotonicClock::now();
    m_openLog.device = status.st_dev;
    m_openLog.inode = status.st_ino;
    m_openLog.created = fileCreationDate(path);
}

void Logger::rotate()
{
    const LogURLs &urls = m_openLog.urls;
    if (URL::fileURLWithPath(urls.yesterdayLogURL).isReachable() && ::unlink(urls.yesterdayLogURL.c_str()) != 0)
        SystemLog::post("Logger: Remove yesterday failed: " + Error::POSIXerrno().localizedDescription());
    if (::rename(urls.currentLogURL.c_str(), urls.yesterdayLogURL.c_str()) != 0)
        SystemLog::post("Logger: Rename current to yesterday failed: " + Error::POSIXerrno().localizedDescription());
    openCurrentLog();
}

void Logger::append(const std::string &bytes)
{
    // A full or failing disk must not lose the line without a trace.
    if (!writeFully(m_openLog.fd.get(), bytes.data(), bytes.size()))
        SystemLog::post("Logger: Can't write log file: " + Error::POSIXerrno().localizedDescription());
}

std::optional<std::string> Logger::logContents() const
{
    const std::optional<LogURLs> urls = logURLs();
    if (!urls)
        return std::nullopt;
    return readUTF8File(urls->yesterdayLogURL).value_or("") + readUTF8File(urls->currentLogURL).value_or("");
}

void Logger::addDelegate(const std::shared_ptr<LogDelegate> &delegate)
{
    m_mayHaveDelegates = true;
    WeakObject<LogDelegate> box(std::static_pointer_cast<Object>(delegate));
    GCDAdditions::onMain([this, box] { m_delegates.push_back(box); });
}

void Logger::tellDelegatesAboutNewString(const std::string &line)
{
    std::erase_if(m_delegates, [](const WeakObject<LogDelegate> &box) { return !box.object(); });
    const std::vector<WeakObject<LogDelegate>> delegates = m_delegates;
    for (const auto &box : delegates) {
        if (const std::shared_ptr<LogDelegate> delegate = box.object())
            delegate->addToLogString(line);
    }
}

void LoggerObjc::log(const std::string &message)
{
    Logger::shared().log(message);
}
