#pragma once

#include <string>

#include "TallowExport.h"

// The translation context that holds the application's strings; a translation
// file for Tarnwick lists its messages under this context.
inline constexpr const char *LocalizedStringTable = "Localizable";

// The translation of key from the installed translators; the key itself when
// there is none. The comment is for translators only and takes no part in the lookup.
TALLOW_EXPORT std::string LSFK(const std::string &key, const std::string &comment = "");

// Kept so that calls left in the code cost nothing; writes nowhere.
TALLOW_EXPORT void debugLog(const std::string &message);
