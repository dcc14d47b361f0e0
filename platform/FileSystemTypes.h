#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TallowExport.h"

struct MountEntry;

// The one translation of Linux file-system type names into the macOS names that the
// rest of the system compares and stores ("vfat" → "msdos"), and facts about types.
class TALLOW_EXPORT FileSystemTypes
{
public:
    // The name without looking at a device: "fuseblk" gives "fusefs"; unknown names pass through.
    static std::string translate(std::string_view linuxType);
    // A mount's name; for "fuseblk" the block device's own type is translated instead.
    static std::string translate(const MountEntry &mount);
    // The untranslated type found on a block device: udev's ID_FS_TYPE, else libblkid
    // on the device node when it is readable.
    static std::optional<std::string> blockDeviceType(unsigned major, unsigned minor, const std::string &deviceNode);

    // A network file system by its Linux type name, or by a source of the form
    // "//host/share" or "host:/path".
    static bool isNetwork(std::string_view linuxType, std::string_view source = {});
    // A disk in the platform's own formats (translated name, exact match).
    static bool isMacDisk(std::string_view translatedType);
    // A kernel or system file system that no user treats as a disk (Linux name).
    static bool isPseudo(std::string_view linuxType);
    // A readable name of the format for the user (translated name).
    static std::string localizedFormatDescription(std::string_view translatedType);
};
