#pragma once

#include <string>
#include <string_view>

#include "TallowExport.h"
#include "Value.h"

// Property lists through libplist: XML and binary are read, XML is written.
//
// - Integers are signed 64-bit. An unsigned value above INT64_MAX does not fit and is refused.
// - Dates are seconds since 1970 here and since 2001 in the file. XML keeps whole seconds only;
//   libplist can write dates between about 1933 and 2069 only, and refuses others.
// - Dictionary keys and strings are UTF-8 and may not contain a NUL character.
// - Null has no property-list form: writing a value that holds a Null anywhere is refused,
//   so that nothing is silently left out of a file.
//
// Failures throw Error in the Cocoa domain: ReadCorruptError for bytes that are no property
// list (or hold a value that has no Value form), WriteInvalidError for a value that cannot be
// written. The localized description says what was wrong.
class TALLOW_EXPORT PropertyList
{
public:
    static constexpr const char *ErrorDomain = "NSCocoaErrorDomain";
    static constexpr std::int64_t ReadCorruptError = 3840;
    static constexpr std::int64_t WriteInvalidError = 3851;

    // Keyed-archive references (the UIDs of a keyed archive) are refused unless asked for; then
    // each is a dictionary whose one entry is "CF$UID" with the reference as an integer, the form
    // XML property lists give them, and such dictionaries are written back as references.
    enum class References { Refused, AsUIDDictionaries };
    static constexpr const char *UIDKey = "CF$UID";

    // Parses XML or binary bytes, told apart by their first bytes.
    static Value parse(std::string_view bytes, References references = References::Refused);
    // Reads and parses a whole file; a read failure throws the POSIX error.
    static Value readFile(const std::string &path);

    static std::string toXML(const Value &value);
    static std::string toBinary(const Value &value, References references = References::Refused);
};
