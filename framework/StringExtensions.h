#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "TallowExport.h"
#include "Value.h"

// String helpers. Strings are UTF-8; a "character" is what the user sees as one
// (an extended grapheme cluster: a letter with its combining marks, an emoji sequence).

TALLOW_EXPORT bool hasContents(const std::string &string);

// The string's bytes when they are valid UTF-8, else nothing.
TALLOW_EXPORT std::optional<Data> utf8Data(const std::string &string);

// The string without its first count characters; a negative count gives the whole
// string, a count beyond the character count the empty string.
TALLOW_EXPORT std::string substringFrom(const std::string &string, std::int64_t count);

// The string without prefix (or suffix) when it begins (ends) with it as whole
// characters; otherwise the string unchanged.
TALLOW_EXPORT std::string dropPrefix(const std::string &string, const std::string &prefix);
TALLOW_EXPORT std::string dropSuffix(const std::string &string, const std::string &suffix);

// A copy in which each character at a position in [firstCharacter, endCharacter)
// is replaced by character (one per replaced character).
TALLOW_EXPORT std::string replaceRangeWithRepeatedCharacter(const std::string &string, std::size_t firstCharacter,
                                                          std::size_t endCharacter, const std::string &character);

// A fixed-size C character array (as in file-system records) read up to its first
// element that is 0 or negative; each element before it is one ASCII character.
// Nothing when not a single character was taken.
TALLOW_EXPORT std::optional<std::string> TupleOfInt8sToString(const std::int8_t *elements, std::size_t count);

// The NUL-terminated C string at p when it is valid UTF-8; nothing for a null pointer.
TALLOW_EXPORT std::optional<std::string> UTF8PtrToString(const char *p);
