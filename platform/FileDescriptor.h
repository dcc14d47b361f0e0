#pragma once

#include <cstddef>

#include "TallowExport.h"

// Owns one open file descriptor and closes it when it goes.
class TALLOW_EXPORT FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1);
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    FileDescriptor(FileDescriptor &&other) noexcept;
    FileDescriptor &operator=(FileDescriptor &&other) noexcept;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    void reset(int fd = -1);

private:
    int m_fd;
};

// Writes all size bytes, going on after interruptions and short writes. False, with errno
// set, when the file takes no more (a write that stores nothing counts as EIO).
TALLOW_EXPORT bool writeFully(int fd, const void *bytes, std::size_t size);
