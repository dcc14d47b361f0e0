#pragma once

#include <string>
#include <string_view>

// Looks over property-list bytes before libplist parses them, for what libplist 2.2 cannot
// parse safely: it aborts on a dictionary key holding NUL, overflows its stack on deep nesting
// and copies an object for every reference to it. A binary list must have a sound trailer and
// offset table; none of its strings (ASCII, UTF-16 or UTF-8) may hold a NUL or run past the
// objects; its references must name objects, never lead back to the container itself, and
// build a tree at most 512 levels deep and of at most 2^20 objects. An XML list may hold no
// NUL byte and nest at most 512 levels.
class PropertyListScreen
{
public:
    // Empty when the bytes may be handed to libplist, else what is wrong with them.
    static std::string problemIn(std::string_view bytes);
};
