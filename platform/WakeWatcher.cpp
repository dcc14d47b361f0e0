#include "WakeWatcher.h"

#include <QDBusConnection>

#include <ctime>

#include "MainThread.h"
#include "NotificationCenter.h"

namespace
{
std::chrono::nanoseconds clockNow(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}
}

WakeWatcher &WakeWatcher::shared()
{
    static WakeWatcher *watcher = new WakeWatcher;
    return *watcher;
}

WakeWatcher::WakeWatcher(QObject *parent)
    : QObject(parent)
    , m_minuteCheck(this)
{
    m_minuteCheck.setInterval(std::chrono::minutes(1));
    connect(&m_minuteCheck, &QTimer::timeout, this, &WakeWatcher::checkClocks);
}

void WakeWatcher::start()
{
    if (m_listeningToLoginManager || m_minuteCheck.isActive())
        return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (bus.isConnected())
        m_listeningToLoginManager = bus.connect(QStringLiteral("org.freedesktop.login1"),
                                                QStringLiteral("/org/freedesktop/login1"),
                                                QStringLiteral("org.freedesktop.login1.Manager"),
                                                QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    if (m_listeningToLoginManager)
        return;
    m_lastTimeAsleep = timeAsleep();
    m_minuteCheck.start();
}

void WakeWatcher::checkClocks()
{
    const std::chrono::nanoseconds asleep = timeAsleep();
    const bool slept = asleep - m_lastTimeAsleep >= sleepThreshold;
    m_lastTimeAsleep = asleep;
    if (slept)
        postDidWake();
}

void WakeWatcher::setSleepClockForTesting(SleepClock clock)
{
    m_sleepClock = std::move(clock);
    m_lastTimeAsleep = timeAsleep();
}

void WakeWatcher::prepareForSleep(bool goingToSleep)
{
    if (!goingToSleep)
        postDidWake();
}

std::chrono::nanoseconds WakeWatcher::systemTimeAsleep()
{
    return clockNow(CLOCK_BOOTTIME) - clockNow(CLOCK_MONOTONIC);
}

std::chrono::nanoseconds WakeWatcher::timeAsleep() const
{
    return m_sleepClock ? m_sleepClock() : systemTimeAsleep();
}

void WakeWatcher::postDidWake()
{
    MainThread::post([] { NotificationCenter::workspaceCenter().post(DidWakeNotification); });
}
