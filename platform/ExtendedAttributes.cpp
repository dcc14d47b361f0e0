#include "ExtendedAttributes.h"

#include "FolderAndName.h"
#include "Utf8.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "AppleDoubleFile.h"
#include "Error.h"
#include "FileDescriptor.h"
#include "OwnChanges.h"

namespace
{
constexpr std::string_view userNamespace = "user.";
constexpr const char *probeName = "user.org.tarnwick.probe";

// The named item, reached through its open parent folder without following a final link.
struct Item
{
    std::string path;
    FileDescriptor parent;
    std::string name;
    struct stat status;
};

Item itemAt(const std::string &path)
{
    Item item;
    item.path = FolderAndName::trimmed(path);
    FolderAndName split = FolderAndName::of(path);
    const std::string parentPath = split.folder;
    // The root is reached as "." of itself.
    item.name = item.path == "/" ? "." : std::move(split.name);
    if (item.name.empty())
        throw Error::posix(ENOENT);
    item.parent.reset(open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!item.parent.isValid())
        throw Error::POSIXerrno();
    if (fstatat(item.parent.get(), item.name.c_str(), &item.status, AT_SYMLINK_NOFOLLOW) != 0)
        throw Error::POSIXerrno();
    return item;
}

// Whether the item's file system keeps `user.` attributes itself. Only "not supported" says
// no: a refusal to read proves the attributes exist. Links and special files always answer
// "no such attribute" for `user.`, so their folder is asked instead.
bool keepsAttributesNatively(const Item &item)
{
    const bool askItem = S_ISREG(item.status.st_mode) || S_ISDIR(item.status.st_mode);
    const ssize_t result = askItem ? lgetxattr(item.path.c_str(), probeName, nullptr, 0)
                                   : fgetxattr(item.parent.get(), probeName, nullptr, 0);
    return result >= 0 || errno != ENOTSUP;
}

// The Linux desktop's and Samba's own data in `user.`: not Mac metadata.
bool isLinuxOwnName(std::string_view name)
{
    return name.starts_with("xdg.") || name == "DOSATTRIB" || name == "SAMBA_PAI" || name.starts_with("DosStream.");
}

// The Linux name for a macOS name; throws for names this layer never touches.
std::string linuxName(const std::string &name)
{
    if (name.find('\0') != std::string::npos)
        throw Error::posix(EINVAL);
    if (name.empty() || isLinuxOwnName(name))
        throw Error::posix(ENODATA);
    return std::string(userNamespace) + name;
}

std::vector<std::string> listNative(const Item &item)
{
    std::string buffer;
    for (;;) {
        const ssize_t size = llistxattr(item.path.c_str(), nullptr, 0);
        if (size < 0)
            throw Error::POSIXerrno();
        buffer.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t filled = size > 0 ? llistxattr(item.path.c_str(), buffer.data(), buffer.size()) : 0;
        if (filled >= 0) {
            buffer.resize(static_cast<std::size_t>(filled));
            break;
        }
        // Another process added an attribute between the two calls: ask again.
        if (errno != ERANGE)
            throw Error::POSIXerrno();
    }

    std::vector<std::string> names;
    std::string_view rest = buffer;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\0');
        const std::string_view piece = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!piece.starts_with(userNamespace))
            continue;
        const std::string_view name = piece.substr(userNamespace.size());
        if (!name.empty() && !isLinuxOwnName(name) && isValidUTF8(name))
            names.emplace_back(name);
    }
    return names;
}

Data getNative(const Item &item, const std::string &name)
{
    const std::string attribute = linuxName(name);
    for (;;) {
        const ssize_t size = lgetxattr(item.path.c_str(), attribute.c_str(), nullptr, 0);
        if (size < 0)
            throw Error::POSIXerrno();
        Data value(static_cast<std::size_t>(size));
        const ssize_t filled = size > 0 ? lgetxattr(item.path.c_str(), attribute.c_str(), value.data(), value.size()) : 0;
        if (filled >= 0) {
            value.resize(static_cast<std::size_t>(filled));
            return value;
        }
        if (errno != ERANGE)
            throw Error::POSIXerrno();
    }
}

void removeNative(const Item &item, const std::string &name)
{
    OwnChanges::noteAttributeRemovalAt(item.parent.get(), item.name);
    if (lremovexattr(item.path.c_str(), linuxName(name).c_str()) != 0)
        throw Error::POSIXerrno();
}

bool isMountRoot(const Item &item)
{
    struct statx extended;
    if (statx(item.parent.get(), item.name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, 0, &extended) == 0
        && (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return extended.stx_attributes & STATX_ATTR_MOUNT_ROOT;
    struct stat parentStatus;
    return fstat(item.parent.get(), &parentStatus) == 0 && parentStatus.st_dev != item.status.st_dev;
}

// Where the item's companion lies: "._NAME" beside it, or "._." inside a volume's root folder.
struct Companion
{
    FileDescriptor ownedFolder;
    int folder = -1;
    std::string name;
};

Companion companionOf(const Item &item)
{
    Companion companion;
    if (S_ISDIR(item.status.st_mode) && isMountRoot(item)) {
        companion.ownedFolder.reset(openat(item.parent.get(), item.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!companion.ownedFolder.isValid())
            throw Error::POSIXerrno();
        companion.folder = companion.ownedFolder.get();
        companion.name = "._.";
        return companion;
    }
    // "dir/." or "dir/.." names no item that has a companion of its own.
    if (item.name == "." || item.name == "..")
        throw Error::posix(EINVAL);
    companion.folder = item.parent.get();
    companion.name = "._" + item.name;
    return companion;
}

// The names a companion never yields: the system's own, and names no Mac writes.
bool isHiddenCompanionName(const std::string &name)
{
    return name.empty() || name.find('\0') != std::string::npos || AppleDoubleFile::isSystemAttributeName(name);
}
}

std::vector<std::string> ExtendedAttributes::list(const std::string &path)
{
    const Item item = itemAt(path);
    if (keepsAttributesNatively(item))
        return listNative(item);
    const Companion companion = companionOf(item);
    const std::optional<AppleDoubleFile> file = AppleDoubleFile::read(companion.folder, companion.name);
    return file ? file->attributeNames() : std::vector<std::string>();
}

Data ExtendedAttributes::get(const std::string &path, const std::string &name)
{
    const Item item = itemAt(path);
    if (keepsAttributesNatively(item))
        return getNative(item, name);
    if (isHiddenCompanionName(name))
        throw Error::posix(ENODATA);
    const Companion companion = companionOf(item);
    const std::optional<AppleDoubleFile> file = AppleDoubleFile::read(companion.folder, companion.name);
    std::optional<Data> value = file ? file->value(name) : std::nullopt;
    if (!value)
        throw Error::posix(ENODATA);
    return std::move(*value);
}

void ExtendedAttributes::remove(const std::string &path, const std::string &name)
{
    const Item item = itemAt(path);
    if (keepsAttributesNatively(item)) {
        removeNative(item, name);
        return;
    }
    if (isHiddenCompanionName(name))
        throw Error::posix(ENODATA);
    const Companion companion = companionOf(item);
    std::optional<AppleDoubleFile> file = AppleDoubleFile::read(companion.folder, companion.name);
    if (!file || !file->removeAttribute(name))
        throw Error::posix(ENODATA);
    if (!file->holdsNoAttributes()) {
        file->write(companion.folder, companion.name);
        return;
    }
    OwnChanges::noteRemovalAt(companion.folder, companion.name);
    if (unlinkat(companion.folder, companion.name.c_str(), 0) != 0 && errno != ENOENT)
        throw Error::POSIXerrno();
}
