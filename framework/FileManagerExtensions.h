#pragma once

#include "TallowExport.h"
#include "URL.h"

// The file-manager operations of the framework.
class TALLOW_EXPORT FileManager
{
public:
    static FileManager &defaultManager();

    // <cache home>/<bundle identifier>/, created with the folders above it. Throws Error,
    // also when the main bundle has no identifier (the shared caches root is never used).
    static URL appCachesDirectory();
    // <data home>/<bundle identifier>/Scripts/, created likewise. Throws Error.
    static URL applicationScriptsDirectory();

    // Removes the item (a folder with its contents, never following a symbolic link and
    // never entering another file system); false on any failure.
    bool removeItem_NoThrow(const URL &url) const;

private:
    FileManager() = default;
};
