#pragma once

#include <string>
#include <string_view>

// Looks over property-list bytes before libplist parses them, for what libplist 2.2 cannot
// parse safely: it aborts on a dictionary key holding NUL. A binary list must have a sound
// trailer and offset table, and none of its string objects (ASCII, UTF-16 or UTF-8) may hold a
// NUL or run past the object area; an XML list may hold no NUL byte.
class PropertyListScreen
{
public:
    // Empty when the bytes may be handed to libplist, else what is wrong with them.
    static std::string problemIn(std::string_view bytes);
};
