#include "FinderInfo.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "AppleDoubleFile.h"
#include "Error.h"
#include "ExtendedAttributes.h"

namespace
{
constexpr std::uint16_t aliasFlag = 0x8000;

std::optional<FinderInfo> finderInfoFrom(const Data &value)
{
    if (value.size() != FinderInfo::length)
        return std::nullopt;
    std::array<std::uint8_t, FinderInfo::length> bytes;
    std::copy(value.begin(), value.end(), bytes.begin());
    return FinderInfo(bytes);
}
}

FinderInfo::FinderInfo(const std::array<std::uint8_t, length> &bytes)
    : m_bytes(bytes)
{
}

std::optional<FinderInfo> FinderInfo::ofItem(const std::string &path)
{
    try {
        return finderInfoFrom(ExtendedAttributes::get(path, AppleDoubleFile::finderInfoName));
    } catch (const Error &) {
        return std::nullopt;
    }
}

std::optional<FinderInfo> FinderInfo::ofItemAt(int folderFd, const std::string &name,
                                               std::optional<bool> folderKeepsAttributes)
{
    try {
        return finderInfoFrom(ExtendedAttributes::getAt(folderFd, name, AppleDoubleFile::finderInfoName,
                                                        folderKeepsAttributes));
    } catch (const Error &) {
        return std::nullopt;
    }
}

std::uint32_t FinderInfo::typeCode() const
{
    return (std::uint32_t(m_bytes[0]) << 24) | (std::uint32_t(m_bytes[1]) << 16) | (std::uint32_t(m_bytes[2]) << 8)
        | m_bytes[3];
}

std::uint16_t FinderInfo::finderFlags() const
{
    return static_cast<std::uint16_t>((m_bytes[8] << 8) | m_bytes[9]);
}

bool FinderInfo::isAlias() const
{
    return finderFlags() & aliasFlag;
}

int FinderInfo::colorLabel() const
{
    return (finderFlags() >> 1) & 7;
}

namespace
{
// The type from a stat of the item and a reader of its Finder info attribute.
template<typename ReadFinderInfo>
std::optional<std::string> typeOfFile(int statResult, const struct stat &status, ReadFinderInfo read)
{
    if (statResult != 0)
        return std::nullopt;
    // A folder's first bytes are its window's place, not a type.
    if (S_ISDIR(status.st_mode))
        return "''";
    std::optional<FinderInfo> finderInfo;
    try {
        finderInfo = finderInfoFrom(read());
    } catch (const Error &error) {
        if (error.code() != ENODATA)
            return std::nullopt;
    }
    if (!finderInfo || finderInfo->typeCode() == 0)
        return "''";
    const std::uint32_t type = finderInfo->typeCode();
    return std::string {'\'', char(type >> 24), char(type >> 16), char(type >> 8), char(type), '\''};
}
}

std::optional<std::string> NSHFSTypeOfFile(const std::string &path)
{
    struct stat status;
    const int result = lstat(path.c_str(), &status);
    return typeOfFile(result, status, [&] { return ExtendedAttributes::get(path, AppleDoubleFile::finderInfoName); });
}

std::optional<std::string> NSHFSTypeOfFileAt(int folderFd, const std::string &name,
                                             std::optional<bool> folderKeepsAttributes)
{
    struct stat status;
    const int result = fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW);
    return typeOfFile(result, status, [&] {
        return ExtendedAttributes::getAt(folderFd, name, AppleDoubleFile::finderInfoName, folderKeepsAttributes);
    });
}
