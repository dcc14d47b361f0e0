#pragma once

#include <optional>
#include <string>

#include "TallowExport.h"

// One string read from a property-list file by key path, for callers that need a single
// setting and no error.
class TALLOW_EXPORT PropertyListSerialization
{
public:
    // The string found under a dotted key path ("a.b" is key b of the dictionary under a) in
    // the property-list file at path, whose leading "~" stands for the home folder. Nullopt
    // when the file cannot be read or parsed, a step of the path is missing or no dictionary,
    // or the value found is not a string.
    static std::optional<std::string> fetchSingleValueForKey(const std::string &key, const std::string &path);
};
