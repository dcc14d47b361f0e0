#pragma once

#include <memory>
#include <optional>
#include <string>

#include "FileDescriptor.h"
#include "TallowExport.h"

// A folder tree reached only through a descriptor of its root, opened once. Every folder
// inside is opened relative to that descriptor, never through a symbolic link on the way and
// never leaving the tree ("..", an absolute link, a magic /proc link): a component that another
// process swapped for a link makes the open fail (ELOOP, EXDEV), it never redirects it.
// openat2 does the resolution in one call where the kernel has it and lets us use it; where it
// is missing or refused (ENOSYS, EPERM under a seccomp filter) the path is walked one
// component at a time with openat(O_NOFOLLOW | O_DIRECTORY).
class TALLOW_EXPORT ConfinedTree
{
public:
    // A folder of the tree opened to be cleaned.
    struct Folder
    {
        FileDescriptor fd;
        // False for a folder that may be searched but not read: its entries are reached by
        // name (fd is an O_PATH descriptor), it cannot be listed.
        bool listable = true;
    };

    // Opens a root whose path was resolved already (by whoever took it from the user, a settings
    // record, the mount table or the watcher): no link anywhere on its path is followed, so a
    // component swapped for a link since fails (ELOOP) instead of leading elsewhere. Throws an
    // Error in the POSIX domain.
    static std::shared_ptr<const ConfinedTree> openResolved(const std::string &absolutePath);
    // Opens an absolute, resolved path with the given flags in the same way; invalid, with errno
    // set, when it cannot be done.
    static FileDescriptor openResolvedPath(const std::string &absolutePath, int flags);

    const std::string &rootPath() const { return m_rootPath; }
    int rootFd() const { return m_root.get(); }

    // The path below the root ("" for the root itself); nothing when the path is not inside.
    std::optional<std::string> relativePath(const std::string &path) const;
    // The path with every link resolved, as the kernel names the folder when it is reached
    // through the tree; nothing outside the tree or where the kernel could not name the root.
    std::optional<std::string> realPath(const std::string &path) const;
    // A folder of the tree, named by its full path, open for listing. Throws (EXDEV for a path
    // outside the tree, ELOOP or ENOTDIR where a component is not a folder).
    FileDescriptor openFolder(const std::string &path) const;
    // The same for a clean: a folder that cannot be read but may be searched is opened for
    // reaching its entries by name; one that cannot be searched either throws EACCES.
    Folder openFolderToClean(const std::string &path) const;
    // A folder below the open folder `baseFd` (a folder of the tree, itself opened beneath its
    // root), opened for a clean in the same way and confined to `baseFd` in the same way: a walk
    // reaches each folder from its parent's descriptor, never again through the whole path.
    static Folder openFolderToCleanBeneath(int baseFd, const std::string &relative);

    // Opens `relative` below the open folder `folderFd`, confined to it, with the given open
    // flags (O_NOFOLLOW is implied: the last component is never followed either).
    static FileDescriptor openBeneath(int folderFd, const std::string &relative, int flags);
    // Whether openat2 serves the resolution (false once it turned out missing or refused).
    static bool usesOpenat2();
    // For tests: resolve one component at a time, as on a kernel without openat2.
    static void setOpenat2Allowed(bool allowed);

private:
    ConfinedTree(std::string rootPath, FileDescriptor root);

    std::string m_rootPath;
    FileDescriptor m_root;
    std::optional<std::string> m_rootRealPath;
};
