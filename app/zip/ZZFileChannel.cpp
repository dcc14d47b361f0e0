#include "ZZFileChannel.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <random>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "FolderAndName.h"
#include "OwnChanges.h"
#include "OwnTemporaryFiles.h"
#include "ZZError.h"
#include "ZZFileChannelOutput.h"

namespace
{
// Another program may shorten an archive while it is mapped here, and touching a page past the
// file's new end raises SIGBUS. A fault inside one of our mappings gets a page of zeros in place
// of the lost one, so the read goes on and fails its own checks (signatures, checksums) and a
// rewrite refuses the changed file; any other fault goes to the handler that was there before.
struct GuardedRange
{
    std::atomic<bool> used{false};
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::uintptr_t> end{0};
};

GuardedRange guardedRanges[256];
std::uintptr_t pageSize = 4096;
struct sigaction previousFaultAction;

void answerFault(int, siginfo_t *info, void *)
{
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (const GuardedRange &range : guardedRanges) {
        if (address >= range.start.load() && address < range.end.load()) {
            void *page = reinterpret_cast<void *>(address & ~(pageSize - 1));
            if (::mmap(page, pageSize, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED)
                return;
        }
    }
    // Not ours: the access is retried under the earlier handler.
    ::sigaction(SIGBUS, &previousFaultAction, nullptr);
}

void guardAgainstTruncation()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action = {};
        action.sa_sigaction = answerFault;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousFaultAction);
    });
}

GuardedRange *guardRange(const void *address, std::size_t length)
{
    guardAgainstTruncation();
    for (GuardedRange &range : guardedRanges) {
        bool expected = false;
        if (range.used.compare_exchange_strong(expected, true)) {
            range.start = reinterpret_cast<std::uintptr_t>(address);
            range.end = reinterpret_cast<std::uintptr_t>(address) + length;
            return &range;
        }
    }
    return nullptr;
}

struct FileMapping
{
    void *address = nullptr;
    std::size_t length = 0;
    int descriptor = -1;
    GuardedRange *guard = nullptr;

    ~FileMapping()
    {
        if (guard) {
            guard->end = 0;
            guard->start = 0;
            guard->used = false;
        }
        if (address)
            ::munmap(address, length);
        if (descriptor >= 0)
            ::close(descriptor);
    }
};

std::string resolvedPath(const std::string &path)
{
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved))
        return resolved;
    return path;
}

Error noSuchFileError(const std::string &path)
{
    return Error(ZZCocoaErrorDomain, ZZFileReadNoSuchFileError,
                 Dictionary{{Error::LocalizedDescriptionKey,
                             Value("The file “" + FolderAndName::nameOf(path) + "” couldn’t be opened because there is no such file.")}});
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::function<void()> &beforeCommitHook()
{
    static std::function<void()> hook;
    return hook;
}

std::function<void(const std::string &)> &afterTemporaryCopyCreatedHook()
{
    static std::function<void(const std::string &)> hook;
    return hook;
}

std::atomic<bool> exchangeAllowed{true};

bool isCopiedAttribute(const std::string &name)
{
    return name.starts_with("user.") || name == "system.posix_acl_access";
}
}

void ZZFileChannel::setBeforeCommitForTesting(std::function<void()> hook)
{
    beforeCommitHook() = std::move(hook);
}

void ZZFileChannel::setAfterTemporaryCopyCreatedForTesting(std::function<void(const std::string &path)> hook)
{
    afterTemporaryCopyCreatedHook() = std::move(hook);
}

void ZZFileChannel::setExchangeAllowedForTesting(bool allowed)
{
    exchangeAllowed = allowed;
}

ZZFileChannel::ZZFileChannel(std::string URL)
    : m_URL(std::move(URL))
{
    m_path = resolvedPath(m_URL);
    const FolderAndName split = FolderAndName::of(m_path);
    m_name = split.name;
    m_folder = std::make_shared<const FileDescriptor>(::open(split.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_folder->isValid())
        m_folderError = errno;
}

ZZFileChannel::ZZFileChannel(std::string URL, std::string path, std::shared_ptr<const FileDescriptor> folder,
                             std::string name, FileDescriptor copy, const struct stat &copyStatus)
    : m_URL(std::move(URL)), m_path(std::move(path)), m_folder(std::move(folder)), m_name(std::move(name)),
      m_isTemporary(true), m_copy(std::move(copy)), m_copyDevice(copyStatus.st_dev), m_copyInode(copyStatus.st_ino)
{
}

bool ZZFileChannel::copyIsAt(const std::string &name) const
{
    struct stat status;
    return ::fstatat(m_folder->get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && status.st_dev == m_copyDevice && status.st_ino == m_copyInode;
}

bool ZZFileChannel::folderFd(int &fd, Error *error) const
{
    if (m_name.empty() || m_name == "." || m_name == "..")
        return zzFail(error, Error::posix(EINVAL));
    if (!m_folder->isValid())
        return zzFail(error, m_folderError == ENOENT ? noSuchFileError(m_path) : Error::posix(m_folderError));
    fd = m_folder->get();
    return true;
}

std::string ZZFileChannel::URL() const
{
    return m_URL;
}

std::optional<ZZBytes> ZZFileChannel::newInput(Error *error)
{
    int folder = -1;
    if (!folderFd(folder, error))
        return std::nullopt;
    // A temporary copy is read through its own descriptor; the archive is opened non-blocking,
    // so that a FIFO put in its place cannot hang the open.
    const int descriptor = m_isTemporary
        ? ::fcntl(m_copy.get(), F_DUPFD_CLOEXEC, 0)
        : ::openat(folder, m_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (descriptor < 0) {
        if (errno == ENOENT) {
            zzFail(error, noSuchFileError(m_path));
            return std::nullopt;
        }
        zzFail(error, Error::POSIXerrno());
        return std::nullopt;
    }
    auto mapping = std::make_shared<FileMapping>();
    mapping->descriptor = descriptor;
    struct stat status;
    if (::fstat(descriptor, &status) != 0) {
        zzFail(error, Error::POSIXerrno());
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        zzFail(error, Error::posix(S_ISDIR(status.st_mode) ? EISDIR : EINVAL));
        return std::nullopt;
    }
    ZZBytes bytes;
    if (status.st_size > 0) {
        mapping->length = static_cast<std::size_t>(status.st_size);
        void *address = ::mmap(nullptr, mapping->length, PROT_READ, MAP_SHARED, descriptor, 0);
        if (address == MAP_FAILED) {
            zzFail(error, Error::POSIXerrno());
            return std::nullopt;
        }
        mapping->address = address;
        mapping->guard = guardRange(address, mapping->length);
        if (!mapping->guard) {
            zzFail(error, Error::posix(EMFILE));
            return std::nullopt;
        }
        bytes.data = static_cast<const std::uint8_t *>(address);
        bytes.size = mapping->length;
    }
    bytes.descriptor = descriptor;
    bytes.keeper = mapping;
    m_loadedStatus = status;
    return bytes;
}

std::unique_ptr<ZZChannelOutput> ZZFileChannel::newOutput(Error *error)
{
    int folder = -1;
    if (!folderFd(folder, error))
        return nullptr;
    const int descriptor = m_isTemporary
        ? ::fcntl(m_copy.get(), F_DUPFD_CLOEXEC, 0)
        : ::openat(folder, m_name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (descriptor < 0) {
        zzFail(error, Error::POSIXerrno());
        return nullptr;
    }
    return std::make_unique<ZZFileChannelOutput>(descriptor);
}

std::unique_ptr<ZZChannel> ZZFileChannel::temporaryChannel(Error *error)
{
    int folder = -1;
    if (!folderFd(folder, error))
        return nullptr;
    struct stat status;
    if (::fstatat(folder, m_name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(status.st_mode)) {
            zzFail(error, Error::posix(EINVAL));
            return nullptr;
        }
        // Replacing one name of a file with several would split it from its other names.
        if (status.st_nlink > 1) {
            zzFail(error, Error::posix(EMLINK));
            return nullptr;
        }
    } else if (errno != ENOENT) {
        zzFail(error, Error::POSIXerrno());
        return nullptr;
    }
    // Never a name that looks like metadata ("._..."), which a clean running beside us would delete.
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string unique;
        for (int i = 0; i < 6; ++i)
            unique.push_back(letters[random() % (sizeof letters - 1)]);
        const std::string name = OwnTemporaryFiles::archiveCopyName(m_name, unique);
        // Its creation, writing and removal are Tarnwick's own: the watcher lets them pass.
        OwnChanges::noteScratchFileAt(folder, name);
        // Kept open to the end: the copy is never reached by its name again.
        FileDescriptor copy(::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!copy.isValid()) {
            if (errno == EEXIST)
                continue;
            zzFail(error, Error::POSIXerrno());
            return nullptr;
        }
        struct stat copyStatus;
        if (::fstat(copy.get(), &copyStatus) != 0) {
            zzFail(error, Error::POSIXerrno());
            ::unlinkat(folder, name.c_str(), 0);
            return nullptr;
        }
        std::string path = FolderAndName::of(m_path).folder + "/" + name;
        auto temporary = std::unique_ptr<ZZChannel>(
            new ZZFileChannel(path, path, m_folder, name, std::move(copy), copyStatus));
        if (afterTemporaryCopyCreatedHook())
            afterTemporaryCopyCreatedHook()(path);
        return temporary;
    }
    zzFail(error, Error::posix(EEXIST));
    return nullptr;
}

bool ZZFileChannel::replaceWithChannel(ZZChannel &channel, Error *error)
{
    auto *temporary = dynamic_cast<ZZFileChannel *>(&channel);
    if (!temporary || !temporary->m_isTemporary || temporary->m_folder != m_folder)
        return zzFail(error, Error::posix(EINVAL));
    int folder = -1;
    if (!folderFd(folder, error))
        return false;
    struct stat current;
    const bool exists = ::fstatat(folder, m_name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return zzFail(error, Error::POSIXerrno());
    // Someone else changed the archive since it was read: keep their version.
    if (m_loadedStatus ? !exists || !sameFile(*m_loadedStatus, current) : exists)
        return zzFail(error, Error::posix(ESTALE));
    if (exists && current.st_nlink > 1)
        return zzFail(error, Error::posix(EMLINK));

    const int descriptor = temporary->m_copy.get();
    if (exists && !copyOwnershipAndAttributes(descriptor, current, error))
        return false;
    if (!exists && ::fchmod(descriptor, 0644) != 0)
        return zzFail(error, Error::POSIXerrno());
    if (::fsync(descriptor) != 0)
        return zzFail(error, Error::POSIXerrno());
    // The writing descriptor is closed while the copy still has its own name, which the watcher
    // knows as Tarnwick's scratch file (closed after the rename, it would be reported under the
    // archive's); a handle that cannot write keeps the file, and so its inode number, meanwhile.
    FileDescriptor handle(::open(("/proc/self/fd/" + std::to_string(descriptor)).c_str(), O_PATH | O_CLOEXEC));
    if (!handle.isValid())
        return zzFail(error, Error::POSIXerrno());
    temporary->m_copy = std::move(handle);

    if (beforeCommitHook())
        beforeCommitHook()();
    if (!commit(*temporary, error))
        return false;
    m_loadedStatus.reset();
    ::fsync(folder);
    // Copies an earlier rewrite here left behind when it was killed go with this one's success.
    OwnTemporaryFiles::removeAllStale(folder);
    return true;
}

// The check that the archive is the one read and the commit are one step: the copy and the
// archive exchange names, and what went in and what came out are checked; a newer archive put in
// place meanwhile, or anything put under the copy's name, is exchanged back and the archive stays.
// Where names cannot be exchanged (FAT, exFAT, network shares) both are checked again just before
// the rename, leaving a small window.
bool ZZFileChannel::commit(ZZFileChannel &temporary, Error *error)
{
    const int folder = m_folder->get();
    const char *temporaryName = temporary.m_name.c_str();
    const char *name = m_name.c_str();
    // Whatever else stands under the copy's name would be what went in the archive's place.
    if (!temporary.copyIsAt(temporary.m_name))
        return zzFail(error, Error::posix(ESTALE));
    int refused = EINVAL;
    if (exchangeAllowed) {
        const unsigned flags = m_loadedStatus ? RENAME_EXCHANGE : RENAME_NOREPLACE;
        noteCommit(flags);
        if (::renameat2(folder, temporaryName, folder, name, flags) == 0) {
            const bool copyWentIn = temporary.copyIsAt(m_name);
            if (!m_loadedStatus) {
                temporary.m_isCommitted = true;
                return copyWentIn || zzFail(error, Error::posix(ESTALE));
            }
            struct stat cameOut;
            if (copyWentIn && ::fstatat(folder, temporaryName, &cameOut, AT_SYMLINK_NOFOLLOW) == 0
                && sameFile(*m_loadedStatus, cameOut)) {
                // The archive that was read now has the temporary name and goes.
                ::unlinkat(folder, temporaryName, 0);
                temporary.m_isCommitted = true;
                return true;
            }
            noteCommit(RENAME_EXCHANGE);
            if (::renameat2(folder, temporaryName, folder, name, RENAME_EXCHANGE) != 0) {
                // The other file stays where it is now rather than be removed with the temporary name.
                const int failure = errno;
                temporary.m_isCommitted = true;
                return zzFail(error, Error::posix(failure));
            }
            return zzFail(error, Error::posix(ESTALE));
        }
        refused = errno;
        if (refused == EEXIST)
            return zzFail(error, Error::posix(ESTALE));
        if (refused != EINVAL && refused != ENOTSUP && refused != EOPNOTSUPP && refused != ENOSYS)
            return zzFail(error, Error::posix(refused));
    }
    struct stat current;
    const bool exists = ::fstatat(folder, name, &current, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return zzFail(error, Error::POSIXerrno());
    const bool archiveChanged = m_loadedStatus ? !exists || !sameFile(*m_loadedStatus, current) : exists;
    if (archiveChanged || !temporary.copyIsAt(temporary.m_name))
        return zzFail(error, Error::posix(ESTALE));
    // An exchange tried and refused has noted the name already.
    if (!exchangeAllowed)
        noteCommit(0);
    if (::renameat(folder, temporaryName, folder, name) != 0)
        return zzFail(error, Error::POSIXerrno());
    temporary.m_isCommitted = true;
    return temporary.copyIsAt(m_name) || zzFail(error, Error::posix(ESTALE));
}

// The archive's name receives the new file; with an exchange the old file also moves away from it.
void ZZFileChannel::noteCommit(unsigned renameFlags) const
{
    if (renameFlags & RENAME_EXCHANGE)
        OwnChanges::noteExchangeAt(m_folder->get(), m_name);
    else
        OwnChanges::noteReplacementAt(m_folder->get(), m_name);
}

bool ZZFileChannel::copyOwnershipAndAttributes(int temporaryDescriptor, const struct stat &original, Error *error) const
{
    // Owner and group where permitted; a user who may not give the file away keeps what is allowed.
    if (::fchown(temporaryDescriptor, original.st_uid, original.st_gid) != 0)
        (void)::fchown(temporaryDescriptor, static_cast<uid_t>(-1), original.st_gid);
    if (::fchmod(temporaryDescriptor, original.st_mode & 07777) != 0)
        return zzFail(error, Error::POSIXerrno());

    // The archive's attributes are read through a handle of the very file that was checked.
    const FileDescriptor archive(::openat(m_folder->get(), m_name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat handleStatus;
    if (!archive.isValid() || ::fstat(archive.get(), &handleStatus) != 0)
        return zzFail(error, Error::POSIXerrno());
    if (handleStatus.st_dev != original.st_dev || handleStatus.st_ino != original.st_ino)
        return zzFail(error, Error::posix(ESTALE));
    const std::string handlePath = "/proc/self/fd/" + std::to_string(archive.get());
    ssize_t length = ::listxattr(handlePath.c_str(), nullptr, 0);
    if (length < 0)
        return errno == ENOTSUP ? true : zzFail(error, Error::POSIXerrno());
    std::vector<char> names(static_cast<std::size_t>(length) + 1);
    length = ::listxattr(handlePath.c_str(), names.data(), names.size());
    if (length < 0)
        return zzFail(error, Error::POSIXerrno());
    for (std::size_t at = 0; at < static_cast<std::size_t>(length);) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        if (!isCopiedAttribute(name))
            continue;
        const ssize_t size = ::getxattr(handlePath.c_str(), name.c_str(), nullptr, 0);
        if (size < 0)
            return zzFail(error, Error::POSIXerrno());
        std::vector<char> value(static_cast<std::size_t>(size) + 1);
        const ssize_t read = ::getxattr(handlePath.c_str(), name.c_str(), value.data(), value.size());
        if (read < 0)
            return zzFail(error, Error::POSIXerrno());
        if (::fsetxattr(temporaryDescriptor, name.c_str(), value.data(), static_cast<std::size_t>(read), 0) != 0)
            return zzFail(error, Error::POSIXerrno());
    }
    return true;
}

void ZZFileChannel::removeAsTemporary()
{
    // Only the copy itself goes: whatever another program put under its name is not ours.
    if (m_isTemporary && !m_isCommitted && m_folder->isValid() && copyIsAt(m_name))
        ::unlinkat(m_folder->get(), m_name.c_str(), 0);
    m_isCommitted = true;
}
