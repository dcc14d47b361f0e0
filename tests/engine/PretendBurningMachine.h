#pragma once

#include <string>

#include "TestSupport.h"

// A pretend machine with one optical drive that wodim writes to: the /sys, /proc and /dev
// roots point into a temporary folder and the monotonic clock is put far enough ahead that the
// shared drive watcher looks again. Everything is put back when it goes.
class PretendBurningMachine
{
public:
    PretendBurningMachine();
    ~PretendBurningMachine();
    PretendBurningMachine(const PretendBurningMachine &) = delete;
    PretendBurningMachine &operator=(const PretendBurningMachine &) = delete;

    // The drive goes away, and the watcher looks again.
    void removeDrive();

private:
    // Each step puts the clock further ahead than any earlier step, also of an earlier machine.
    static void stepAhead();

    TemporaryDirectory m_machine;
    std::string m_sys;
};
