#pragma once

#include <optional>
#include <string>

#include "TallowExport.h"
#include "Value.h"

// A stopwatch that writes "<label> takes <seconds> seconds." to the system log.
class TALLOW_EXPORT PerfTimer
{
public:
    PerfTimer();
    virtual ~PerfTimer();

    virtual void restart();
    virtual void finished(const std::string &label);
    virtual void continues(const std::string &label);

    std::optional<Date> start() const { return m_start; }

private:
    void logElapsed(const std::string &label) const;

    std::optional<Date> m_start;
};

// Switches every PerfTimer on or off.
TALLOW_EXPORT extern bool PerfTimer_On;
