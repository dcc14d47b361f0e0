#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "TallowExport.h"

// The temporary copies Tarnwick makes beside what it rewrites: ".tarnwick-NAME.XXXXXX.tarnwick-tmp"
// of an archive and ".tarnwick-ad-XXXXXXXX.tarnwick-tmp" of an AppleDouble companion. A rewrite
// killed midway leaves one behind; the next clean or rewrite in that folder removes it once it is
// stale. The suffix, which people do not give their files, keeps a name of a user's own such as
// ".tarnwick-notes.backup" from being taken for one.
class TALLOW_EXPORT OwnTemporaryFiles
{
public:
    // The name of a temporary copy of the archive `archiveName`; `unique` is six letters or digits.
    static std::string archiveCopyName(std::string_view archiveName, std::string_view unique);
    // The name of a temporary copy of a companion; `unique` is eight letters or digits.
    static std::string companionCopyName(std::string_view unique);
    // Whether the name is exactly one Tarnwick gives its temporary copies.
    static bool isOwnTemporaryName(std::string_view name);
    // Removes the named entry of the open folder when it is one of ours gone stale: a regular
    // file (never a link), owned by us, not modified for an hour. True when it was removed.
    static bool removeIfStale(int folderFd, const std::string &name, std::time_t now = std::time(nullptr));
    // Lists the open folder and removes every stale temporary copy in it.
    static void removeAllStale(int folderFd);
    // The same, skipped when this thread just did it for the same folder: rewrites of many
    // companions in one folder list it once.
    static void removeAllStaleUnlessJustDone(int folderFd);

    static constexpr std::time_t staleAfterSeconds = 3600;
};
