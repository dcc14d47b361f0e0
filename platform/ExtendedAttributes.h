#pragma once

#include <string>
#include <vector>

#include "TallowExport.h"
#include "Value.h"

// A file's extended attributes under their macOS names ("com.apple.FinderInfo").
// On a volume that keeps attributes itself, macOS name N is the attribute "user." + N; nothing
// outside "user." is ever seen or touched, nor the Linux desktop's and Samba's own data kept
// there ("user.xdg.*", "user.DOSATTRIB", "user.SAMBA_PAI", "user.DosStream.*"). On a volume
// without attributes (FAT, exFAT) they live in the AppleDouble companion "._NAME" beside the
// file, as a Mac keeps them there. No call follows a symbolic link: a link's own attributes
// are meant.
//
// Failures throw an Error in the POSIX domain; a missing attribute is ENODATA, a missing item
// ENOENT, a companion that does not parse EINVAL (the companion is then left untouched).
class TALLOW_EXPORT ExtendedAttributes
{
public:
    // The item's attribute names in the order the volume keeps them; empty when it has none.
    static std::vector<std::string> list(const std::string &path);
    static Data get(const std::string &path, const std::string &name);
    // Removing the last attribute kept in a companion deletes the companion; otherwise the
    // companion is rewritten atomically without it.
    static void remove(const std::string &path, const std::string &name);
};
