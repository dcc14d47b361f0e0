#pragma once

#include <string_view>

#include "TallowExport.h"

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms,
// no surrogates, nothing past U+10FFFF.
TALLOW_EXPORT bool isValidUTF8(std::string_view bytes);
