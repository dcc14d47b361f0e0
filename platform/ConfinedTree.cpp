#include "ConfinedTree.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "Error.h"
#include "FolderAndName.h"
#include "PhysicalPath.h"

namespace
{
// Cleared for good once the kernel says it has no openat2 or a filter refuses it.
std::atomic<bool> openat2Available{true};
std::atomic<bool> openat2Allowed{true};

int openat2Beneath(int folderFd, const char *relative, int flags)
{
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        const long fd = syscall(SYS_openat2, folderFd, relative, &how, sizeof how);
        // EAGAIN: a rename elsewhere raced the lookup; the kernel asks for another try.
        if (fd >= 0 || errno != EAGAIN)
            return static_cast<int>(fd);
    }
}

// One component at a time: every step a plain name opened without following a link, so
// nothing can lead out of the starting folder.
int openByComponents(int folderFd, const std::string &relative, int flags)
{
    if (relative.empty())
        return openat(folderFd, ".", flags | O_NOFOLLOW | O_CLOEXEC);
    FileDescriptor current;
    int at = folderFd;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = relative.find('/', start);
        const bool last = slash == std::string::npos;
        const std::string component = relative.substr(start, last ? std::string::npos : slash - start);
        start = last ? relative.size() : slash + 1;
        if (component.empty() || component == ".") {
            if (last)
                return openat(at, ".", flags | O_NOFOLLOW | O_CLOEXEC);
            continue;
        }
        if (component == "..") {
            errno = EXDEV;
            return -1;
        }
        if (last)
            return openat(at, component.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
        FileDescriptor next(openat(at, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.isValid())
            return -1;
        current = std::move(next);
        at = current.get();
    }
}
}

ConfinedTree::ConfinedTree(std::string rootPath, FileDescriptor root)
    : m_rootPath(std::move(rootPath)), m_root(std::move(root)), m_rootRealPath(physicalPathOfDescriptor(m_root.get()))
{
}

// The root is only the base of every open below it: an O_PATH descriptor, so that a root the
// user may search but not read is still reached.
std::shared_ptr<const ConfinedTree> ConfinedTree::openResolved(const std::string &absolutePath)
{
    FileDescriptor root = openResolvedPath(absolutePath, O_PATH | O_DIRECTORY);
    if (!root.isValid())
        throw Error::POSIXerrno();
    return std::shared_ptr<const ConfinedTree>(
        new ConfinedTree(std::string(FolderAndName::trimmed(absolutePath)), std::move(root)));
}

FileDescriptor ConfinedTree::openResolvedPath(const std::string &absolutePath, int flags)
{
    const std::string_view trimmed = FolderAndName::trimmed(absolutePath);
    if (!trimmed.starts_with('/')) {
        errno = EINVAL;
        return FileDescriptor();
    }
    const FileDescriptor top(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!top.isValid())
        return FileDescriptor();
    return openBeneath(top.get(), std::string(trimmed.substr(1)), flags);
}

std::optional<std::string> ConfinedTree::relativePath(const std::string &path) const
{
    const std::string_view trimmed = FolderAndName::trimmed(path);
    if (trimmed == m_rootPath)
        return std::string();
    const std::string prefix = m_rootPath == "/" ? "/" : m_rootPath + "/";
    if (!trimmed.starts_with(prefix))
        return std::nullopt;
    return std::string(trimmed.substr(prefix.size()));
}

// Below the root every component is a name opened without following a link: the real path
// is the root's and the same names.
std::optional<std::string> ConfinedTree::realPath(const std::string &path) const
{
    const std::optional<std::string> relative = relativePath(path);
    if (!relative || !m_rootRealPath)
        return std::nullopt;
    if (relative->empty())
        return m_rootRealPath;
    return (*m_rootRealPath == "/" ? std::string() : *m_rootRealPath) + "/" + *relative;
}

FileDescriptor ConfinedTree::openFolder(const std::string &path) const
{
    const std::optional<std::string> relative = relativePath(path);
    if (!relative)
        throw Error::posix(EXDEV);
    FileDescriptor folder = openBeneath(m_root.get(), *relative, O_RDONLY | O_DIRECTORY);
    if (!folder.isValid())
        throw Error::POSIXerrno();
    return folder;
}

ConfinedTree::Folder ConfinedTree::openFolderToClean(const std::string &path) const
{
    const std::optional<std::string> relative = relativePath(path);
    if (!relative)
        throw Error::posix(EXDEV);
    return openFolderToCleanBeneath(m_root.get(), *relative);
}

ConfinedTree::Folder ConfinedTree::openFolderToCleanBeneath(int baseFd, const std::string &relative)
{
    FileDescriptor readable = openBeneath(baseFd, relative, O_RDONLY | O_DIRECTORY);
    if (readable.isValid())
        return Folder{std::move(readable), true};
    if (errno != EACCES)
        throw Error::POSIXerrno();
    FileDescriptor folder = openBeneath(baseFd, relative, O_PATH | O_DIRECTORY);
    if (!folder.isValid())
        throw Error::POSIXerrno();
    // Looking up "." asks for the right to search the folder, as every name in it will.
    struct stat status;
    if (fstatat(folder.get(), ".", &status, AT_SYMLINK_NOFOLLOW) != 0)
        throw Error::POSIXerrno();
    return Folder{std::move(folder), false};
}

FileDescriptor ConfinedTree::openBeneath(int folderFd, const std::string &relative, int flags)
{
    if (openat2Allowed.load(std::memory_order_relaxed) && openat2Available.load(std::memory_order_relaxed)) {
        const int fd = openat2Beneath(folderFd, relative.empty() ? "." : relative.c_str(), flags);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
            return FileDescriptor(fd);
        // EPERM may also be the file's own answer: tell the two apart by a harmless call.
        const int refusal = errno;
        if (refusal == EPERM && FileDescriptor(openat2Beneath(folderFd, ".", O_PATH)).isValid()) {
            errno = refusal;
            return FileDescriptor(-1);
        }
        openat2Available.store(false);
    }
    return FileDescriptor(openByComponents(folderFd, relative, flags));
}

bool ConfinedTree::usesOpenat2()
{
    return openat2Allowed.load() && openat2Available.load();
}

void ConfinedTree::setOpenat2Allowed(bool allowed)
{
    openat2Allowed.store(allowed);
}
