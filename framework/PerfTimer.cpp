#include "PerfTimer.h"

#include "SystemLog.h"

#include <cstdio>

bool PerfTimer_On = true;

PerfTimer::PerfTimer()
{
    if (PerfTimer_On)
        m_start = Date::now();
}

PerfTimer::~PerfTimer() = default;

void PerfTimer::restart()
{
    if (PerfTimer_On)
        m_start = Date::now();
}

void PerfTimer::finished(const std::string &label)
{
    if (PerfTimer_On)
        logElapsed(label);
}

void PerfTimer::continues(const std::string &label)
{
    if (!PerfTimer_On)
        return;
    logElapsed(label);
    m_start = Date::now();
}

// A timer made while switched off has no start; it measures nothing rather than
// reporting the time since 1970.
void PerfTimer::logElapsed(const std::string &label) const
{
    if (!m_start)
        return;
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%.3f", Date::now().timeIntervalSince(*m_start));
    SystemLog::write(label + " takes " + seconds + " seconds.");
}
