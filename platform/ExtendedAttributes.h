#pragma once

#include <optional>
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

    // The same for the entry `itemName` of the open folder `folderFd`, reached without leaving
    // it. `folderKeepsThem`, when known, is keepsAttributesNatively of that folder, so that a
    // caller working through many items of one folder asks the volume once.
    static std::vector<std::string> listAt(int folderFd, const std::string &itemName,
                                           std::optional<bool> folderKeepsThem = std::nullopt);
    static Data getAt(int folderFd, const std::string &itemName, const std::string &name,
                      std::optional<bool> folderKeepsThem = std::nullopt);
    static void removeAt(int folderFd, const std::string &itemName, const std::string &name,
                         std::optional<bool> folderKeepsThem = std::nullopt);
    // Whether the open folder's volume keeps `user.` attributes itself (else in companions).
    static bool keepsAttributesNatively(int folderFd);
};
