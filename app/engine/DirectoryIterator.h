#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FSItemAndAttrs.h"

// Lists one directory in bulk: a few getdents64 calls into one buffer, allocated when the
// iterator is made and reused by every listing. One iterator serves one thread at a time.
class DirectoryIterator
{
public:
    static constexpr std::size_t attrBufferSize = 65536;

    // Throws std::bad_alloc when the buffer cannot be had.
    DirectoryIterator();
    DirectoryIterator(const DirectoryIterator &) = delete;
    DirectoryIterator &operator=(const DirectoryIterator &) = delete;

    // The directory's entries, one level, in the order the file system returns them, without
    // "." and ".." and without the folders other volumes are mounted on. Never throws: a
    // directory that cannot be opened (a symbolic link among them) gives nothing, and a
    // listing that fails midway prints "error: " and the error number to standard output and
    // gives what it had gathered.
    std::vector<FSItemAndAttrs> contentsOfDirectoryAtPath(const std::string &path);
    // The same for a directory already open, listed from its start; `path` is its path.
    std::vector<FSItemAndAttrs> contentsOfDirectoryAt(int directoryFd, const std::string &path);

private:
    std::unique_ptr<std::uint8_t[]> m_attrBuffer;
};
