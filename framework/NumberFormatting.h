#pragma once

#include <cstdint>
#include <string>

#include "TallowExport.h"

// Counts shown to the user (items examined, items deleted) in the user's number style.
class TALLOW_EXPORT NumberFormatter
{
public:
    // The number in the decimal style of the application's locale, with grouping
    // separators (QLocale's default locale, which follows the user's unless set).
    static std::string decimal(std::int64_t number);
};
