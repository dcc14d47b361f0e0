#include "SystemLog.h"

#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <syslog.h>
#include <thread>
#include <unistd.h>

#include "FileDescriptor.h"

namespace
{
constexpr std::size_t gatheredLines = 256;
constexpr std::chrono::milliseconds gatheringTime{10};

// Whether a system log listens; without one every syslog call would try to connect again.
bool systemLogListens()
{
    static const bool listens = [] {
        openlog("Tarnwick", LOG_PID, LOG_USER);
        return access("/dev/log", F_OK) == 0;
    }();
    return listens;
}

void writeToStandardError(const std::deque<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text.append("Tarnwick: ").append(line).append("\n");
    writeFully(STDERR_FILENO, text.data(), text.size());
}

std::string leftOutLine(std::uint64_t count)
{
    return "Tarnwick left " + std::to_string(count)
           + (count == 1 ? " line" : " lines") + " out of the system log: the system logger stopped taking them in.";
}

class Writer
{
public:
    static Writer &shared()
    {
        static Writer *writer = new Writer;
        return *writer;
    }

    // The line's number in the order of lines, 0 when it was left out.
    std::uint64_t give(const std::string &message)
    {
        std::unique_lock lock(m_mutex);
        while (backlog() >= SystemLog::capacity) {
            if (m_leavingOut) {
                ++m_leftOut;
                return 0;
            }
            // Room is waited for until half the bound is free, so that a caller is not woken
            // for each line; a logger that took no line in all that time is stuck.
            const std::uint64_t written = m_written;
            ++m_waitingForRoom;
            const bool room = awaitWriter(lock, SystemLog::stuckAfter, [this] { return hasRoom(); });
            --m_waitingForRoom;
            if (!room && m_written == written)
                m_leavingOut = true;
        }
        m_leavingOut = false;
        if (m_leftOut > 0) {
            accept(leftOutLine(m_leftOut));
            m_leftOut = 0;
        }
        return accept(message);
    }

    bool waitFor(std::uint64_t line, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return awaitWriter(lock, limit, [&] { return m_written >= line; });
    }

    std::uint64_t lastGiven()
    {
        std::lock_guard lock(m_mutex);
        return m_given;
    }

    int addSink(SystemLog::Sink sink)
    {
        std::lock_guard lock(m_mutex);
        const int token = m_nextToken++;
        m_sinks.emplace(token, std::move(sink));
        return token;
    }

    void removeSink(int token)
    {
        std::lock_guard lock(m_mutex);
        m_sinks.erase(token);
    }

    void setOutput(SystemLog::Output output)
    {
        std::lock_guard lock(m_mutex);
        m_output = std::move(output);
    }

private:
    Writer()
    {
        try {
            std::thread([this] { run(); }).detach();
            // A process that ends by returning from main or by exit() gets its lines out first.
            std::atexit([] { SystemLog::flush(SystemLog::waitLimit); });
        } catch (const std::system_error &) {
            m_threadless = true;
        }
    }

    std::uint64_t backlog() const { return m_given - m_written; }
    bool hasRoom() const { return backlog() <= SystemLog::capacity / 2; }

    // The writer stops gathering lines for someone waiting.
    bool awaitWriter(std::unique_lock<std::mutex> &lock, std::chrono::milliseconds limit,
                     const std::function<bool()> &done)
    {
        ++m_waiting;
        m_linesArrived.notify_one();
        const bool met = m_progress.wait_for(lock, limit, done);
        --m_waiting;
        return met;
    }

    std::uint64_t accept(const std::string &message)
    {
        for (const auto &[token, sink] : m_sinks)
            sink(message);
        const std::uint64_t line = ++m_given;
        if (m_threadless) {
            // Written by its caller, in order under the lock.
            if (!m_output)
                writeToStandardError({message});
            writeToLogger(message, m_output);
            ++m_written;
            return line;
        }
        m_queue.push_back(message);
        // The writer is woken for the first line and for a full gathering, not for each line.
        if (m_queue.size() == 1 || m_queue.size() == gatheredLines)
            m_linesArrived.notify_one();
        return line;
    }

    static void writeToLogger(const std::string &line, const SystemLog::Output &output)
    {
        if (output)
            output(line);
        else if (systemLogListens())
            syslog(LOG_NOTICE, "%s", line.c_str());
    }

    // Lines are gathered for a moment, so that a burst costs the callers no wake-up each; then
    // the copy on stderr goes first, in one write, and each line to the logger, counted as it
    // goes. Callers waiting for room are woken once there is room, those waiting for their
    // lines at the end of the batch.
    [[noreturn]] void run()
    {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_linesArrived.wait(lock, [this] { return !m_queue.empty(); });
            m_linesArrived.wait_for(lock, gatheringTime,
                                    [this] { return m_queue.size() >= gatheredLines || m_waiting > 0; });
            std::deque<std::string> batch;
            batch.swap(m_queue);
            const SystemLog::Output output = m_output;
            lock.unlock();
            if (!output)
                writeToStandardError(batch);
            for (const std::string &line : batch) {
                writeToLogger(line, output);
                lock.lock();
                ++m_written;
                const bool roomMade = m_waitingForRoom > 0 && hasRoom();
                lock.unlock();
                if (roomMade)
                    m_progress.notify_all();
            }
            lock.lock();
            const bool awaited = m_waiting > 0;
            lock.unlock();
            if (awaited)
                m_progress.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_linesArrived;
    std::condition_variable m_progress;
    std::deque<std::string> m_queue;
    std::uint64_t m_given = 0;
    std::uint64_t m_written = 0;
    std::uint64_t m_leftOut = 0;
    int m_waiting = 0;
    int m_waitingForRoom = 0;
    bool m_leavingOut = false;
    bool m_threadless = false;
    std::map<int, SystemLog::Sink> m_sinks;
    int m_nextToken = 1;
    SystemLog::Output m_output;
};
}

void SystemLog::write(const std::string &message)
{
    Writer &writer = Writer::shared();
    if (const std::uint64_t line = writer.give(message))
        writer.waitFor(line, waitLimit);
}

void SystemLog::post(const std::string &message)
{
    Writer::shared().give(message);
}

bool SystemLog::flush(std::chrono::milliseconds limit)
{
    Writer &writer = Writer::shared();
    return writer.waitFor(writer.lastGiven(), limit);
}

int SystemLog::addSink(Sink sink)
{
    return Writer::shared().addSink(std::move(sink));
}

void SystemLog::removeSink(int token)
{
    Writer::shared().removeSink(token);
}

void SystemLog::setOutputForTesting(Output output)
{
    Writer::shared().setOutput(std::move(output));
}
