#include "OwnTemporaryFiles.h"

#include <cctype>
#include <chrono>
#include <cstdint>
#include <optional>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "OwnChanges.h"

namespace
{
constexpr std::string_view prefix = ".tarnwick-";
constexpr std::string_view companionPrefix = ".tarnwick-ad-";
constexpr std::string_view suffix = ".tarnwick-tmp";
// Long archive names are cut, so that a copy's name stays within the 255 bytes a name may have.
constexpr std::size_t longestArchiveName = 200;

bool isLetterOrDigit(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

bool allLettersOrDigits(std::string_view text)
{
    for (const char c : text) {
        if (!isLetterOrDigit(c))
            return false;
    }
    return true;
}
}

std::string OwnTemporaryFiles::archiveCopyName(std::string_view archiveName, std::string_view unique)
{
    return std::string(prefix).append(archiveName.substr(0, longestArchiveName)).append(".").append(unique).append(suffix);
}

std::string OwnTemporaryFiles::companionCopyName(std::string_view unique)
{
    return std::string(companionPrefix).append(unique).append(suffix);
}

bool OwnTemporaryFiles::isOwnTemporaryName(std::string_view name)
{
    if (!name.starts_with(prefix) || !name.ends_with(suffix))
        return false;
    name.remove_suffix(suffix.size());
    // A companion's: ".tarnwick-ad-" and eight letters or digits.
    if (name.starts_with(companionPrefix) && name.size() == companionPrefix.size() + 8
        && allLettersOrDigits(name.substr(companionPrefix.size())))
        return true;
    // An archive's: ".tarnwick-", the archive's name, "." and six letters or digits.
    constexpr std::size_t uniqueLength = 7;
    if (name.size() < prefix.size() + 1 + uniqueLength)
        return false;
    const std::string_view unique = name.substr(name.size() - uniqueLength);
    return unique[0] == '.' && allLettersOrDigits(unique.substr(1));
}

bool OwnTemporaryFiles::removeIfStale(int folderFd, const std::string &name, std::time_t now)
{
    if (!isOwnTemporaryName(name))
        return false;
    struct stat status;
    if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode)
        || status.st_uid != ::geteuid() || now - status.st_mtime < staleAfterSeconds)
        return false;
    OwnChanges::noteRemovalAt(folderFd, name);
    return ::unlinkat(folderFd, name.c_str(), 0) == 0;
}

void OwnTemporaryFiles::removeAllStale(int folderFd)
{
    // A listing of its own, from the start, leaving the caller's descriptor untouched.
    const int listingFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listingFd < 0)
        return;
    DIR *folder = ::fdopendir(listingFd);
    if (!folder) {
        ::close(listingFd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(folder)) {
        if ((entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) && isOwnTemporaryName(entry->d_name))
            names.emplace_back(entry->d_name);
    }
    ::closedir(folder);
    const std::time_t now = std::time(nullptr);
    for (const std::string &name : names)
        removeIfStale(folderFd, name, now);
}

void OwnTemporaryFiles::removeAllStaleUnlessJustDone(int folderFd)
{
    // The birth time tells a folder from a later one given the same inode, where it is kept.
    struct Sweep
    {
        std::uint32_t deviceMajor = 0;
        std::uint32_t deviceMinor = 0;
        std::uint64_t inode = 0;
        std::int64_t bornSeconds = 0;
        std::uint32_t bornNanoseconds = 0;
        std::chrono::steady_clock::time_point when;
    };
    thread_local std::optional<Sweep> last;
    struct statx status{};
    if (::statx(folderFd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &status) != 0)
        return;
    Sweep sweep{status.stx_dev_major, status.stx_dev_minor, status.stx_ino, 0, 0, std::chrono::steady_clock::now()};
    if (status.stx_mask & STATX_BTIME) {
        sweep.bornSeconds = status.stx_btime.tv_sec;
        sweep.bornNanoseconds = status.stx_btime.tv_nsec;
    }
    if (last && last->deviceMajor == sweep.deviceMajor && last->deviceMinor == sweep.deviceMinor
        && last->inode == sweep.inode && last->bornSeconds == sweep.bornSeconds
        && last->bornNanoseconds == sweep.bornNanoseconds && sweep.when - last->when < std::chrono::minutes(1))
        return;
    last = sweep;
    removeAllStale(folderFd);
}
