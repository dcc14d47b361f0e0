#include "DateFormatter.h"

#include <unicode/udat.h>
#include <unicode/ustring.h>

#include <cmath>
#include <ctime>
#include <vector>

namespace
{
UDateFormatStyle icuStyle(DateFormatter::Style style)
{
    switch (style) {
    case DateFormatter::Style::None:
        return UDAT_NONE;
    case DateFormatter::Style::Short:
        return UDAT_SHORT;
    case DateFormatter::Style::Medium:
        return UDAT_MEDIUM;
    case DateFormatter::Style::Long:
        return UDAT_LONG;
    case DateFormatter::Style::Full:
        return UDAT_FULL;
    }
    return UDAT_MEDIUM;
}
}

struct DateFormatter::Impl
{
    UDateFormat *format = nullptr;
};

DateFormatter::DateFormatter(Style dateStyle, Style timeStyle) : m_impl(std::make_unique<Impl>())
{
    UErrorCode status = U_ZERO_ERROR;
    // A null locale and zone mean the user's current ones.
    m_impl->format = udat_open(icuStyle(timeStyle), icuStyle(dateStyle), nullptr, nullptr, -1, nullptr, -1, &status);
    if (U_FAILURE(status))
        m_impl->format = nullptr;
}

DateFormatter::~DateFormatter()
{
    if (m_impl->format)
        udat_close(m_impl->format);
}

std::string DateFormatter::stringFromDate(const Date &date) const
{
    if (!m_impl->format)
        return {};
    std::lock_guard lock(m_mutex);
    UErrorCode status = U_ZERO_ERROR;
    std::vector<UChar> text(64);
    const UDate when = date.secondsSince1970 * 1000.0;
    int32_t length = udat_format(m_impl->format, when, text.data(), int32_t(text.size()), nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        text.resize(size_t(length) + 1);
        length = udat_format(m_impl->format, when, text.data(), int32_t(text.size()), nullptr, &status);
    }
    if (U_FAILURE(status))
        return {};
    std::string utf8(size_t(length) * 4 + 1, '\0');
    int32_t utf8Length = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8(utf8.data(), int32_t(utf8.size()), &utf8Length, text.data(), length, &status);
    if (U_FAILURE(status))
        return {};
    utf8.resize(size_t(utf8Length));
    return utf8;
}

bool isSameLocalDay(const Date &a, const Date &b)
{
    const std::time_t ta = std::time_t(std::floor(a.secondsSince1970));
    const std::time_t tb = std::time_t(std::floor(b.secondsSince1970));
    std::tm la{}, lb{};
    localtime_r(&ta, &la);
    localtime_r(&tb, &lb);
    return la.tm_year == lb.tm_year && la.tm_yday == lb.tm_yday;
}
