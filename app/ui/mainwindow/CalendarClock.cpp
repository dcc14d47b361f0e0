#include "CalendarClock.h"

#include "Value.h"

CalendarClock::CalendarClock()
    : m_now([] { return QDateTime::currentDateTimeUtc(); })
    , m_timeZone(QTimeZone::systemTimeZone())
{
}

CalendarClock::CalendarClock(Now now, QTimeZone timeZone)
    : m_now(std::move(now))
    , m_timeZone(std::move(timeZone))
{
}

QDateTime CalendarClock::now() const
{
    return inTimeZone(m_now());
}

QDate CalendarClock::today() const
{
    return now().date();
}

QDateTime CalendarClock::inTimeZone(const QDateTime &moment) const
{
    return moment.toTimeZone(m_timeZone);
}

QDateTime CalendarClock::inTimeZone(const Date &moment) const
{
    return inTimeZone(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(moment.secondsSince1970 * 1000.0), QTimeZone::utc()));
}
