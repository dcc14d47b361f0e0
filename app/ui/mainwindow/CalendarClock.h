#pragma once

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <functional>

struct Date;

// The current moment and the user's time zone: the calendar that day questions ("today",
// "tomorrow at 09:00") are answered in. The system's by default; tests give their own.
class CalendarClock
{
public:
    using Now = std::function<QDateTime()>;

    // The system clock in the system's time zone.
    CalendarClock();
    CalendarClock(Now now, QTimeZone timeZone);

    // Now, expressed in the calendar's time zone.
    QDateTime now() const;
    QDate today() const;
    const QTimeZone &timeZone() const { return m_timeZone; }
    // The moment in the calendar's time zone.
    QDateTime inTimeZone(const QDateTime &moment) const;
    QDateTime inTimeZone(const Date &moment) const;

private:
    Now m_now;
    QTimeZone m_timeZone;
};
