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

// The named item of an open folder, held by an O_PATH descriptor that never follows a link:
// its /proc/self/fd path reaches that very item for the attribute calls, which work on files
// the user cannot read and never block on a FIFO.
struct Item
{
    FileDescriptor ownedParent;
    int parent = -1;
    std::string name;
    struct stat status;
    FileDescriptor handle;
    std::string handlePath;

    // Regular files and folders are the only items that carry `user.` attributes.
    bool carriesUserAttributes() const { return S_ISREG(status.st_mode) || S_ISDIR(status.st_mode); }
};

// /proc may be missing in a container: a readable descriptor stands in for the O_PATH one.
bool procFdAvailable()
{
    static const bool available = access("/proc/self/fd", X_OK) == 0;
    return available;
}

void openHandle(Item &item)
{
    if (fstatat(item.parent, item.name.c_str(), &item.status, AT_SYMLINK_NOFOLLOW) != 0)
        throw Error::POSIXerrno();
    if (!item.carriesUserAttributes())
        return;
    const int flags = procFdAvailable() ? O_PATH : O_RDONLY | O_NONBLOCK | O_NOCTTY;
    item.handle.reset(openat(item.parent, item.name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
    if (!item.handle.isValid())
        throw Error::POSIXerrno();
    struct stat handleStatus;
    if (fstat(item.handle.get(), &handleStatus) != 0)
        throw Error::POSIXerrno();
    // Swapped between the look and the open: not the item that was looked at.
    if (handleStatus.st_dev != item.status.st_dev || handleStatus.st_ino != item.status.st_ino)
        throw Error::posix(ESTALE);
    if (procFdAvailable())
        item.handlePath = "/proc/self/fd/" + std::to_string(item.handle.get());
}

Item itemAt(int folderFd, const std::string &name)
{
    // Nothing but an entry of the folder itself.
    if (name.empty() || name == ".." || name.find('/') != std::string::npos)
        throw Error::posix(ENOENT);
    Item item;
    item.parent = folderFd;
    item.name = name;
    openHandle(item);
    return item;
}

Item itemAt(const std::string &path)
{
    Item item;
    const std::string trimmed(FolderAndName::trimmed(path));
    FolderAndName split = FolderAndName::of(path);
    // The root is reached as "." of itself.
    item.name = trimmed == "/" ? "." : std::move(split.name);
    if (item.name.empty())
        throw Error::posix(ENOENT);
    item.ownedParent.reset(open(split.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!item.ownedParent.isValid())
        throw Error::POSIXerrno();
    item.parent = item.ownedParent.get();
    openHandle(item);
    return item;
}

ssize_t getAttribute(const Item &item, const char *attribute, void *value, std::size_t size)
{
    return item.handlePath.empty() ? fgetxattr(item.handle.get(), attribute, value, size)
                                   : getxattr(item.handlePath.c_str(), attribute, value, size);
}

ssize_t listAttributes(const Item &item, char *names, std::size_t size)
{
    return item.handlePath.empty() ? flistxattr(item.handle.get(), names, size)
                                   : listxattr(item.handlePath.c_str(), names, size);
}

int removeAttribute(const Item &item, const char *attribute)
{
    return item.handlePath.empty() ? fremovexattr(item.handle.get(), attribute)
                                   : removexattr(item.handlePath.c_str(), attribute);
}

// Whether the folder's file system keeps `user.` attributes itself. Only "not supported" says
// no: a refusal to read proves the attributes exist.
bool folderKeepsAttributes(int folderFd)
{
    return fgetxattr(folderFd, probeName, nullptr, 0) >= 0 || errno != ENOTSUP;
}

// The item's own answer where it can carry attributes; links and special files always answer
// "no such attribute" for `user.`, so their folder is asked instead.
bool keepsAttributesNatively(const Item &item)
{
    if (!item.carriesUserAttributes())
        return folderKeepsAttributes(item.parent);
    return getAttribute(item, probeName, nullptr, 0) >= 0 || errno != ENOTSUP;
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
    if (!item.carriesUserAttributes())
        return {};
    for (;;) {
        const ssize_t size = listAttributes(item, nullptr, 0);
        if (size < 0)
            throw Error::POSIXerrno();
        buffer.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t filled = size > 0 ? listAttributes(item, buffer.data(), buffer.size()) : 0;
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
    if (!item.carriesUserAttributes())
        throw Error::posix(ENODATA);
    for (;;) {
        const ssize_t size = getAttribute(item, attribute.c_str(), nullptr, 0);
        if (size < 0)
            throw Error::POSIXerrno();
        Data value(static_cast<std::size_t>(size));
        const ssize_t filled = size > 0 ? getAttribute(item, attribute.c_str(), value.data(), value.size()) : 0;
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
    const std::string attribute = linuxName(name);
    // `user.` attributes are not permitted on links and special files.
    if (!item.carriesUserAttributes())
        throw Error::posix(EPERM);
    OwnChanges::noteAttributeRemovalAt(item.parent, item.name);
    if (removeAttribute(item, attribute.c_str()) != 0)
        throw Error::POSIXerrno();
}

bool isMountRoot(const Item &item)
{
    struct statx extended;
    if (statx(item.parent, item.name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, 0, &extended) == 0
        && (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return extended.stx_attributes & STATX_ATTR_MOUNT_ROOT;
    struct stat parentStatus;
    return fstat(item.parent, &parentStatus) == 0 && parentStatus.st_dev != item.status.st_dev;
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
        companion.ownedFolder.reset(openat(item.parent, item.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!companion.ownedFolder.isValid())
            throw Error::POSIXerrno();
        companion.folder = companion.ownedFolder.get();
        companion.name = "._.";
        return companion;
    }
    // "dir/." or "dir/.." names no item that has a companion of its own.
    if (item.name == "." || item.name == "..")
        throw Error::posix(EINVAL);
    companion.folder = item.parent;
    companion.name = "._" + item.name;
    return companion;
}

// The names a companion never yields: the system's own, and names no Mac writes.
bool isHiddenCompanionName(const std::string &name)
{
    return name.empty() || name.find('\0') != std::string::npos || AppleDoubleFile::isSystemAttributeName(name);
}
}

namespace
{
bool nativeFor(const Item &item, std::optional<bool> knownNative)
{
    return knownNative ? *knownNative : keepsAttributesNatively(item);
}

std::vector<std::string> listOf(const Item &item, std::optional<bool> knownNative)
{
    if (nativeFor(item, knownNative))
        return listNative(item);
    const Companion companion = companionOf(item);
    const std::optional<AppleDoubleFile> file = AppleDoubleFile::read(companion.folder, companion.name);
    return file ? file->attributeNames() : std::vector<std::string>();
}

Data valueOf(const Item &item, const std::string &name, std::optional<bool> knownNative)
{
    if (nativeFor(item, knownNative))
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

void removeFrom(const Item &item, const std::string &name, std::optional<bool> knownNative)
{
    if (nativeFor(item, knownNative)) {
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
}

std::vector<std::string> ExtendedAttributes::list(const std::string &path)
{
    return listOf(itemAt(path), std::nullopt);
}

Data ExtendedAttributes::get(const std::string &path, const std::string &name)
{
    return valueOf(itemAt(path), name, std::nullopt);
}

void ExtendedAttributes::remove(const std::string &path, const std::string &name)
{
    removeFrom(itemAt(path), name, std::nullopt);
}

std::vector<std::string> ExtendedAttributes::listAt(int folderFd, const std::string &itemName,
                                                    std::optional<bool> folderKeepsThem)
{
    return listOf(itemAt(folderFd, itemName), folderKeepsThem);
}

Data ExtendedAttributes::getAt(int folderFd, const std::string &itemName, const std::string &name,
                               std::optional<bool> folderKeepsThem)
{
    return valueOf(itemAt(folderFd, itemName), name, folderKeepsThem);
}

void ExtendedAttributes::removeAt(int folderFd, const std::string &itemName, const std::string &name,
                                  std::optional<bool> folderKeepsThem)
{
    removeFrom(itemAt(folderFd, itemName), name, folderKeepsThem);
}

bool ExtendedAttributes::keepsAttributesNatively(int folderFd)
{
    return folderKeepsAttributes(folderFd);
}
