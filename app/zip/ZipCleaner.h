#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Error.h"

// Removes Mac metadata entries ("__MACOSX", "._" and ".DS_Store") from a zip archive.
class ZipCleaner
{
public:
    // Removes the metadata entries of the archive at the path, appending their
    // names to `itemsRemoved`; answers how many were removed. A rewrite that
    // fails removes nothing: 0, no names, and the failure in `error`.
    std::int64_t cleanZipAtURL(const std::string &URL, std::vector<std::string> *itemsRemoved, Error *error);

    // Whether an entry path is metadata: any component begins with "._", "__MACOSX" or ".DS_Store".
    static bool shouldRemoveItem(std::string_view name);
};
