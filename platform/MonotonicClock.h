#pragma once

#include <chrono>
#include <functional>

#include "TallowExport.h"

// A monotonic clock that tests can replace; ages and time-outs are measured on
// it so that a step of the wall clock neither drops nor doubles anything.
class TALLOW_EXPORT MonotonicClock
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static TimePoint now();
    // An empty function restores the real clock.
    static void setNowForTesting(std::function<TimePoint()> now);
};
