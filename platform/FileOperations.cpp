#include "FileOperations.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Error.h"
#include "FileDescriptor.h"
#include "FileIdentity.h"
#include "FolderAndName.h"
#include "OwnChanges.h"

namespace
{
constexpr int directoryOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Asked of the folder actually opened, not of the name listed before: a folder mounted or
// swapped in between is caught.
bool isMountRoot(int folderFd)
{
    struct statx extended;
    return statx(folderFd, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT, 0, &extended) != 0
           || ((extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
               && (extended.stx_attributes & STATX_ATTR_MOUNT_ROOT));
}

// One folder on the way down: what is still to be entered and what had to stay.
struct Level
{
    std::string name;
    FileIdentity identity;
    std::vector<std::string> pendingFolders;
    std::set<std::string> kept;
    int listings = 0;
};

// Removes one folder tree. Only the folder being worked on is open; the way back up goes
// through "..", checked against the folder that was entered, so depth costs neither stack
// nor file descriptors and a folder moved away meanwhile stops the removal.
class TreeRemoval
{
public:
    TreeRemoval(int parentFd, const std::string &name) : m_parentFd(parentFd), m_name(name) {}

    void run()
    {
        struct stat status;
        if (fstatat(m_parentFd, m_name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            throw Error::POSIXerrno();
        if (!S_ISDIR(status.st_mode)) {
            OwnChanges::noteRemovalAt(m_parentFd, m_name);
            if (unlinkat(m_parentFd, m_name.c_str(), 0) != 0)
                throw Error::POSIXerrno();
            return;
        }
        FileDescriptor folder(openat(m_parentFd, m_name.c_str(), directoryOpenFlags));
        if (!folder.isValid())
            throw Error::POSIXerrno();
        const std::optional<FileIdentity> identity = FileIdentity::of(folder.get());
        if (!identity || !(*identity == FileIdentity{status.st_dev, status.st_ino}))
            throw Error::posix(ESTALE);
        // A folder that is itself the root of a mount (a bind mount of a folder elsewhere too),
        // or on another file system than its parent, is never emptied: its contents belong to
        // another place.
        const std::optional<FileIdentity> parent = FileIdentity::of(m_parentFd);
        if (isMountRoot(folder.get()) || !parent || parent->device != identity->device)
            throw Error::posix(EBUSY);
        OwnChanges::noteTreeRemovalAt(m_parentFd, m_name);
        m_device = identity->device;
        m_levels.push_back(Level{m_name, *identity, {}, {}, 0});
        walk(std::move(folder));
        if (m_firstError)
            throw *m_firstError;
    }

private:
    void note(int code)
    {
        if (!m_firstError)
            m_firstError = Error::posix(code);
    }

    void walk(FileDescriptor folder)
    {
        while (!m_levels.empty()) {
            Level &level = m_levels.back();
            // Listed twice: the second listing catches what appeared during the first pass.
            if (level.pendingFolders.empty() && level.listings < 2) {
                ++level.listings;
                if (!list(folder.get(), level))
                    level.listings = 2;
                continue;
            }
            if (!level.pendingFolders.empty()) {
                const std::string child = std::move(level.pendingFolders.back());
                level.pendingFolders.pop_back();
                FileDescriptor childFolder(openat(folder.get(), child.c_str(), directoryOpenFlags));
                const std::optional<FileIdentity> identity =
                    childFolder.isValid() ? FileIdentity::of(childFolder.get()) : std::nullopt;
                if (!identity) {
                    if (errno != ENOENT) {
                        note(errno);
                        level.kept.insert(child);
                    }
                    continue;
                }
                if (identity->device != m_device || isMountRoot(childFolder.get())) {
                    note(EBUSY);
                    level.kept.insert(child);
                    continue;
                }
                m_levels.push_back(Level{child, *identity, {}, {}, 0});
                folder = std::move(childFolder);
                continue;
            }
            if (!leaveLevel(folder))
                return;
        }
    }

    // Removes the files of one listing and queues its folders; false when it cannot be listed.
    bool list(int fd, Level &level)
    {
        const int listingFd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (listingFd < 0) {
            note(errno);
            return false;
        }
        DIR *directory = fdopendir(listingFd);
        if (!directory) {
            note(errno);
            close(listingFd);
            return false;
        }
        rewinddir(directory);
        std::vector<std::pair<std::string, unsigned char>> entries;
        int listingError = 0;
        for (;;) {
            errno = 0;
            const dirent *entry = readdir(directory);
            if (!entry) {
                listingError = errno;
                break;
            }
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && !level.kept.contains(name))
                entries.emplace_back(name, entry->d_type);
        }
        closedir(directory);
        if (listingError != 0) {
            note(listingError);
            return false;
        }

        for (const auto &[name, type] : entries) {
            if (isFolder(fd, name, type, level)) {
                level.pendingFolders.push_back(name);
                continue;
            }
            if (level.kept.contains(name))
                continue;
            if (unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
                note(errno);
                level.kept.insert(name);
            }
        }
        return true;
    }

    // A folder to enter (a mount point inside the tree is kept when it is opened).
    bool isFolder(int fd, const std::string &name, unsigned char type, Level &level)
    {
        if (type != DT_DIR && type != DT_UNKNOWN)
            return false;
        struct statx status;
        if (statx(fd, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &status) != 0) {
            if (errno != ENOENT) {
                note(errno);
                level.kept.insert(name);
            }
            return false;
        }
        return S_ISDIR(status.stx_mode);
    }

    // Goes up one level and removes the folder just emptied; false when the walk must stop.
    bool leaveLevel(FileDescriptor &folder)
    {
        const Level finished = std::move(m_levels.back());
        m_levels.pop_back();
        int parentFd = m_parentFd;
        FileDescriptor parent;
        if (!m_levels.empty()) {
            parent = FileDescriptor(openat(folder.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            const std::optional<FileIdentity> identity =
                parent.isValid() ? FileIdentity::of(parent.get()) : std::nullopt;
            if (!identity || !(*identity == m_levels.back().identity)) {
                // The folder was moved during the removal: nothing outside the tree may be touched.
                m_firstError = Error::posix(ESTALE);
                return false;
            }
            parentFd = parent.get();
        }
        folder.reset();
        if (!finished.kept.empty()) {
            if (!m_levels.empty())
                m_levels.back().kept.insert(finished.name);
        } else if (unlinkat(parentFd, finished.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            note(errno);
            if (!m_levels.empty())
                m_levels.back().kept.insert(finished.name);
        }
        folder = std::move(parent);
        return true;
    }

    int m_parentFd;
    std::string m_name;
    dev_t m_device = 0;
    std::vector<Level> m_levels;
    std::optional<Error> m_firstError;
};

bool isPlainName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}
}

void FileOperations::removeItem(const std::string &path)
{
    const auto [parentPath, name] = FolderAndName::of(path);
    if (!isPlainName(name))
        throw Error::posix(EINVAL);
    FileDescriptor parent(open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.isValid())
        throw Error::POSIXerrno();
    TreeRemoval(parent.get(), name).run();
}

void FileOperations::removeItemAt(int directoryFd, const std::string &name)
{
    if (!isPlainName(name))
        throw Error::posix(EINVAL);
    TreeRemoval(directoryFd, name).run();
}

bool FileOperations::removeItemNoThrow(const std::string &path)
{
    try {
        removeItem(path);
        return true;
    } catch (const Error &) {
        return false;
    }
}
