#include "SecurityScopedBookmark.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "Error.h"

namespace
{
constexpr std::uint8_t magic[] = {'T', 'W', 'B', 'M'};
constexpr std::size_t headerSize = sizeof(magic) + 1 + 4;

std::mutex accessMutex;
std::map<std::string, int> &openAccesses()
{
    static std::map<std::string, int> accesses;
    return accesses;
}

Error bookmarkError(int code, const std::string &description)
{
    return Error(Error::POSIXDomain, code, Dictionary{{Error::LocalizedDescriptionKey, Value(description)}});
}
}

Data SecurityScopedBookmark::bookmarkData(const std::string &path, std::uint64_t)
{
    if (path.empty() || path.front() != '/')
        throw bookmarkError(EINVAL, "A bookmark needs an absolute path: \"" + path + "\".");
    if (path.size() > maximumPathLength)
        throw bookmarkError(ENAMETOOLONG, "The path is too long for a bookmark.");
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        throw Error::POSIXerrno();

    Data data(std::begin(magic), std::end(magic));
    data.push_back(currentVersion);
    const auto length = static_cast<std::uint32_t>(path.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        data.push_back(static_cast<std::uint8_t>(length >> shift));
    data.insert(data.end(), path.begin(), path.end());
    return data;
}

std::string SecurityScopedBookmark::resolve(const Data &bookmark, std::uint64_t)
{
    if (bookmark.size() < headerSize || !std::equal(std::begin(magic), std::end(magic), bookmark.begin()))
        throw bookmarkError(EINVAL, "The bookmark data is damaged.");
    if (bookmark[sizeof(magic)] != currentVersion)
        throw bookmarkError(ENOTSUP, "The bookmark was made by another version.");
    std::uint32_t length = 0;
    for (std::size_t i = sizeof(magic) + 1; i < headerSize; ++i)
        length = (length << 8) | bookmark[i];
    if (length == 0 || length > maximumPathLength || bookmark.size() - headerSize != length)
        throw bookmarkError(EINVAL, "The bookmark data is damaged.");
    std::string path(bookmark.begin() + headerSize, bookmark.end());
    if (path.front() != '/' || path.find('\0') != std::string::npos)
        throw bookmarkError(EINVAL, "The bookmark data is damaged.");

    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        throw Error::POSIXerrno();
    return path;
}

bool SecurityScopedBookmark::startAccessing(const std::string &path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return false;
    const int mode = S_ISDIR(info.st_mode) ? (R_OK | X_OK) : R_OK;
    if (access(path.c_str(), mode) != 0)
        return false;
    std::lock_guard lock(accessMutex);
    ++openAccesses()[path];
    return true;
}

void SecurityScopedBookmark::stopAccessing(const std::string &path)
{
    std::lock_guard lock(accessMutex);
    const auto found = openAccesses().find(path);
    if (found == openAccesses().end())
        return;
    if (--found->second == 0)
        openAccesses().erase(found);
}

int SecurityScopedBookmark::openAccessCount(const std::string &path)
{
    std::lock_guard lock(accessMutex);
    const auto found = openAccesses().find(path);
    return found == openAccesses().end() ? 0 : found->second;
}
