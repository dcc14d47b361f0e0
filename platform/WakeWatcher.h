#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

#include "TallowExport.h"

// Tells the workspace notification centre, on the main thread, each time the computer wakes
// from sleep ("NSWorkspaceDidWakeNotification"). The login manager's PrepareForSleep(false)
// signal on the system bus says so where there is one; otherwise a check once a minute notices
// that the boot-time clock (which counts sleep) moved ahead of the monotonic clock (which does not).
class TALLOW_EXPORT WakeWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *DidWakeNotification = "NSWorkspaceDidWakeNotification";
    // Time spent asleep since boot: the boot-time clock less the monotonic clock.
    using SleepClock = std::function<std::chrono::nanoseconds()>;
    // A gap smaller than this is the clocks' own drift, not a sleep.
    static constexpr std::chrono::seconds sleepThreshold{5};

    // The application's watcher; start() it on the main thread.
    static WakeWatcher &shared();

    explicit WakeWatcher(QObject *parent = nullptr);

    // Listens on the system bus when it can, else starts the minute check. Main thread.
    void start();
    bool isListeningToLoginManager() const { return m_listeningToLoginManager; }

    // Compares the clocks now, posting the notification when they moved apart since the last check.
    void checkClocks();
    // Replaces the clocks (tests); an empty function restores the system's.
    void setSleepClockForTesting(SleepClock clock);

private slots:
    void prepareForSleep(bool goingToSleep);

private:
    static std::chrono::nanoseconds systemTimeAsleep();
    std::chrono::nanoseconds timeAsleep() const;
    void postDidWake();

    SleepClock m_sleepClock;
    std::chrono::nanoseconds m_lastTimeAsleep{0};
    QTimer m_minuteCheck;
    bool m_listeningToLoginManager = false;
};
