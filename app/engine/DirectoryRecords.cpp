#include "DirectoryRecords.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "MemPtr.h"

namespace
{
DirectoryRecords::FailureForTesting failureForTesting;

// d_ino (8), d_off (8), d_reclen (2), d_type (1), then the name.
constexpr std::size_t nameOffset = 19;

unsigned char typeFromMode(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFREG:
        return DT_REG;
    case S_IFDIR:
        return DT_DIR;
    case S_IFLNK:
        return DT_LNK;
    case S_IFCHR:
        return DT_CHR;
    case S_IFBLK:
        return DT_BLK;
    case S_IFIFO:
        return DT_FIFO;
    case S_IFSOCK:
        return DT_SOCK;
    default:
        return DT_UNKNOWN;
    }
}
}

bool DirectoryRecords::walk(const std::uint8_t *bytes, std::size_t count, const Visitor &visit)
{
    const MemPtr start(bytes, static_cast<std::int64_t>(count));
    std::size_t offset = 0;
    while (offset < count) {
        const std::size_t left = count - offset;
        if (left <= nameOffset)
            return false;
        MemPtr lengthField = start.advance(static_cast<std::int64_t>(offset + 16));
        const auto recordLength = lengthField.valueAs<std::uint16_t>();
        // The name needs at least its closing NUL; a record of 0 would never move on.
        if (recordLength <= nameOffset || recordLength > left)
            return false;
        MemPtr typeField = lengthField.advance();
        const auto type = typeField.valueAs<std::uint8_t>();
        const MemPtr nameField = typeField.advance();
        const std::size_t nameRoom = recordLength - nameOffset;
        const void *end = std::memchr(nameField.address(), 0, nameRoom);
        if (!end)
            return false;
        visit(std::string_view(reinterpret_cast<const char *>(nameField.address()),
                               static_cast<const std::uint8_t *>(end) - nameField.address()),
              type);
        offset += recordLength;
    }
    return true;
}

int DirectoryRecords::read(int directoryFd, std::uint8_t *buffer, std::size_t bufferSize, const Visitor &visit)
{
    const Visitor settleAndVisit = [&](std::string_view name, unsigned char type) {
        if (name != "." && name != "..")
            visit(name, settledType(directoryFd, name, type));
    };
    for (int reading = 0;; ++reading) {
        if (failureForTesting) {
            if (const int failure = failureForTesting(directoryFd, reading))
                return failure;
        }
        const long filled = syscall(SYS_getdents64, directoryFd, buffer, bufferSize);
        if (filled == 0)
            return 0;
        if (filled < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (static_cast<std::size_t>(filled) > bufferSize || !walk(buffer, static_cast<std::size_t>(filled), settleAndVisit))
            return EIO;
    }
}

unsigned char DirectoryRecords::settledType(int directoryFd, std::string_view name, unsigned char reportedType)
{
    if (reportedType != DT_UNKNOWN)
        return reportedType;
    struct stat status;
    if (fstatat(directoryFd, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return DT_UNKNOWN;
    return typeFromMode(status.st_mode);
}

FileDescriptor DirectoryRecords::openDirectory(const std::string &path)
{
    return FileDescriptor(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

void DirectoryRecords::setFailureForTesting(FailureForTesting failure)
{
    failureForTesting = std::move(failure);
}
