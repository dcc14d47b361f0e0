#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MonotonicClock.h"
#include "OpticalDrives.h"

// Answers whether a disc is being burnt, so that no clean touches it meanwhile.
// The kernel sends no notice when a drive comes, goes or starts writing, so the
// drives are looked at again when a question finds the last look older than a
// short while; a drive that appeared, disappeared or changed state drops the
// cached answer. May be asked from any thread.
class DiscRecordingWatcher
{
public:
    static constexpr std::chrono::seconds rescanInterval{2};
    // How long an answer decided by the extra check (a virtual machine runs) is kept.
    static constexpr std::chrono::seconds extraCheckAnswerLifetime{15};

    static DiscRecordingWatcher &shared();

    DiscRecordingWatcher();
    DiscRecordingWatcher(const DiscRecordingWatcher &) = delete;
    DiscRecordingWatcher &operator=(const DiscRecordingWatcher &) = delete;

    bool isBusyBurning();
    // A virtual machine runs; it may hold a drive without burning anything.
    bool shouldDoExtraBurningChecks();
    // A process that is not a virtual machine writes to a drive.
    bool isFinderBurningSomething();
    // Marks the cached answer invalid.
    void cleanisBusyBurningCachedResult();

private:
    void rescanIfStale(MonotonicClock::TimePoint now);
    void deviceAppeared(const OpticalDrive &drive);
    void deviceDisappeared(const std::string &name);
    void deviceStateChanged(const OpticalDrive &drive);
    bool finderBurning() const;
    void logDevice(const OpticalDrive &drive) const;

    std::mutex m_mutex;
    std::vector<OpticalDrive> m_deviceList;
    bool m_isBusyBurningCachedResult = false;
    bool m_isBusyBurningCachedResultIsValid = false;
    std::optional<MonotonicClock::TimePoint> m_cachedResultExpiry;
    bool m_virtualMachineRunning = false;
    std::optional<MonotonicClock::TimePoint> m_lastScan;
};
