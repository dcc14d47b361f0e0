#pragma once

#include <optional>
#include <string>

#include "TallowExport.h"
#include "Value.h"

// When a file was made: its birth time where the file system keeps one, else
// its last modification. Symbolic links are not followed. Nothing when the
// file cannot be examined.
TALLOW_EXPORT std::optional<Date> fileCreationDate(const std::string &path);
