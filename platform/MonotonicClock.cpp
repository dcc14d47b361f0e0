#include "MonotonicClock.h"

#include <mutex>

namespace
{
std::mutex g_mutex;
std::function<MonotonicClock::TimePoint()> g_now;
}

MonotonicClock::TimePoint MonotonicClock::now()
{
    std::lock_guard lock(g_mutex);
    return g_now ? g_now() : std::chrono::steady_clock::now();
}

void MonotonicClock::setNowForTesting(std::function<TimePoint()> now)
{
    std::lock_guard lock(g_mutex);
    g_now = std::move(now);
}
