#pragma once

#include <optional>

#include "TallowExport.h"
#include "Value.h"

// A date kept as a keyed archive, the shape a Mac's archiver gives one date: a binary property
// list with "$archiver" "NSKeyedArchiver", "$version" 100000, "$top" {"root": reference 1} and
// "$objects" ["$null", {"NS.time": seconds since 2001, "$class": reference 2}, the NSDate class].
class TALLOW_EXPORT KeyedArchive
{
public:
    static Data archivedDataWithDate(const Date &date);
    // The date of such an archive; nullopt for data that is no property list, no keyed archive,
    // or whose root object is not a date with a finite time.
    static std::optional<Date> unarchivedDate(const Data &data);
};
