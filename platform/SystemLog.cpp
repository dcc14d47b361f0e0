#include "SystemLog.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace
{
struct SinkTable
{
    std::mutex mutex;
    std::map<int, SystemLog::Sink> sinks;
    int nextToken = 1;
};

SinkTable &sinkTable()
{
    static SinkTable table;
    return table;
}

// Whether a system log listens; without one every syslog call would try to connect again.
bool systemLogListens()
{
    static const bool listens = [] {
        openlog("Tarnwick", LOG_PID, LOG_USER);
        return access("/dev/log", F_OK) == 0;
    }();
    return listens;
}
}

void SystemLog::write(const std::string &message)
{
    if (systemLogListens())
        syslog(LOG_NOTICE, "%s", message.c_str());
    std::fprintf(stderr, "Tarnwick: %s\n", message.c_str());

    SinkTable &table = sinkTable();
    std::lock_guard lock(table.mutex);
    for (const auto &[token, sink] : table.sinks)
        sink(message);
}

int SystemLog::addSink(Sink sink)
{
    SinkTable &table = sinkTable();
    std::lock_guard lock(table.mutex);
    const int token = table.nextToken++;
    table.sinks.emplace(token, std::move(sink));
    return token;
}

void SystemLog::removeSink(int token)
{
    SinkTable &table = sinkTable();
    std::lock_guard lock(table.mutex);
    table.sinks.erase(token);
}
