#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "TallowExport.h"
#include "Value.h"

// Renders dates in one of the user's locale styles (ICU), in the user's time
// zone. Safe to use from several threads at once.
class TALLOW_EXPORT DateFormatter
{
public:
    enum class Style { None, Short, Medium, Long, Full };

    DateFormatter(Style dateStyle, Style timeStyle);
    ~DateFormatter();
    DateFormatter(const DateFormatter &) = delete;
    DateFormatter &operator=(const DateFormatter &) = delete;

    std::string stringFromDate(const Date &date) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    mutable std::mutex m_mutex;
};

// The local calendar day of a date, for "is it the same day" questions.
TALLOW_EXPORT bool isSameLocalDay(const Date &a, const Date &b);
