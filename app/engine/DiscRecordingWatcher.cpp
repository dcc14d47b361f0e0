#include "DiscRecordingWatcher.h"

#include "SystemLog.h"
#include "TarnwickStore.h"

#include <algorithm>

namespace
{
bool isBusy(const OpticalDrive &drive)
{
    return !drive.writers.empty();
}

std::string joined(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : ", ") + item;
    return "(" + text + ")";
}

std::string joined(const std::vector<int> &items)
{
    std::vector<std::string> texts;
    for (const int item : items)
        texts.push_back(std::to_string(item));
    return joined(texts);
}
}

DiscRecordingWatcher &DiscRecordingWatcher::shared()
{
    static DiscRecordingWatcher *instance = new DiscRecordingWatcher;
    return *instance;
}

DiscRecordingWatcher::DiscRecordingWatcher() = default;

bool DiscRecordingWatcher::isBusyBurning()
{
    std::lock_guard lock(m_mutex);
    const MonotonicClock::TimePoint now = MonotonicClock::now();
    if (m_cachedResultExpiry && now >= *m_cachedResultExpiry) {
        m_cachedResultExpiry.reset();
        cleanisBusyBurningCachedResult();
    }
    rescanIfStale(now);
    if (m_isBusyBurningCachedResultIsValid)
        return m_isBusyBurningCachedResult;

    const bool detailedLogging = TarnwickStore::sharedInstance().detailedLoggingEnabled();
    for (const OpticalDrive &drive : m_deviceList) {
        if (detailedLogging)
            logDevice(drive);
        bool busy = isBusy(drive);
        if (!busy)
            continue;
        if (m_virtualMachineRunning) {
            busy = finderBurning();
            m_cachedResultExpiry = now + extraCheckAnswerLifetime;
        }
        m_isBusyBurningCachedResult = busy;
        m_isBusyBurningCachedResultIsValid = true;
        if (busy && detailedLogging)
            SystemLog::post("disk recorder has captured device.");
        return busy;
    }
    m_isBusyBurningCachedResult = false;
    m_isBusyBurningCachedResultIsValid = true;
    return false;
}

bool DiscRecordingWatcher::shouldDoExtraBurningChecks()
{
    std::lock_guard lock(m_mutex);
    rescanIfStale(MonotonicClock::now());
    return m_virtualMachineRunning;
}

bool DiscRecordingWatcher::isFinderBurningSomething()
{
    std::lock_guard lock(m_mutex);
    rescanIfStale(MonotonicClock::now());
    return finderBurning();
}

void DiscRecordingWatcher::cleanisBusyBurningCachedResult()
{
    m_isBusyBurningCachedResultIsValid = false;
}

void DiscRecordingWatcher::rescanIfStale(MonotonicClock::TimePoint now)
{
    if (m_lastScan && now - *m_lastScan < rescanInterval)
        return;
    m_lastScan = now;
    DiscActivity activity = OpticalDrives::scan();
    m_virtualMachineRunning = activity.virtualMachineRunning;

    std::vector<std::string> gone;
    for (const OpticalDrive &known : m_deviceList) {
        const bool present = std::any_of(activity.drives.begin(), activity.drives.end(),
                                         [&](const OpticalDrive &drive) { return drive.name == known.name; });
        if (!present)
            gone.push_back(known.name);
    }
    for (const std::string &name : gone)
        deviceDisappeared(name);
    for (const OpticalDrive &drive : activity.drives) {
        const auto known = std::find_if(m_deviceList.begin(), m_deviceList.end(),
                                        [&](const OpticalDrive &device) { return device.name == drive.name; });
        if (known == m_deviceList.end())
            deviceAppeared(drive);
        else if (isBusy(*known) != isBusy(drive))
            deviceStateChanged(drive);
        else
            *known = drive;
    }
}

void DiscRecordingWatcher::deviceAppeared(const OpticalDrive &drive)
{
    m_deviceList.push_back(drive);
    cleanisBusyBurningCachedResult();
}

void DiscRecordingWatcher::deviceDisappeared(const std::string &name)
{
    std::erase_if(m_deviceList, [&](const OpticalDrive &device) { return device.name == name; });
    cleanisBusyBurningCachedResult();
}

void DiscRecordingWatcher::deviceStateChanged(const OpticalDrive &drive)
{
    for (OpticalDrive &device : m_deviceList) {
        if (device.name == drive.name)
            device = drive;
    }
    cleanisBusyBurningCachedResult();
}

bool DiscRecordingWatcher::finderBurning() const
{
    return std::any_of(m_deviceList.begin(), m_deviceList.end(),
                       [](const OpticalDrive &drive) { return !drive.writersOutsideVirtualMachines.empty(); });
}

void DiscRecordingWatcher::logDevice(const OpticalDrive &drive) const
{
    const std::string info = "{ name = " + drive.name + "; path = " + drive.devicePath +
                             "; generic = " + joined(drive.genericPaths) + "; vendor = " + drive.vendor +
                             "; model = " + drive.model + "; }";
    const std::string status = "{ busy = " + std::to_string(int(isBusy(drive))) + "; writers = " +
                               joined(drive.writers) + "; }";
    SystemLog::post("info: " + info + " status: " + status + " Finder Burn: " + std::to_string(int(finderBurning())));
}
