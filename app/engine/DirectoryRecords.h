#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "FileDescriptor.h"

// The records a getdents64 call leaves in a buffer: inode, offset, record length, entry type,
// NUL-terminated name. The kernel's word is checked, never trusted: a record that would reach
// past the bytes filled, or that has no room for its name, ends the walk as malformed.
class DirectoryRecords
{
public:
    // The entry type (DT_REG, DT_DIR, DT_LNK, ...) and the name's bytes.
    using Visitor = std::function<void(std::string_view name, unsigned char type)>;

    // Calls visit for each record of bytes[0, count), in order; false when a malformed record
    // stopped the walk (the records before it were visited).
    static bool walk(const std::uint8_t *bytes, std::size_t count, const Visitor &visit);

    // Lists the open directory through the buffer, calling visit for every entry but "." and
    // "..", with its type settled. Returns 0, or the error that ended the listing early (a
    // failing call's errno; EIO for a malformed record).
    static int read(int directoryFd, std::uint8_t *buffer, std::size_t bufferSize, const Visitor &visit);

    // The reported type, or for DT_UNKNOWN the entry's own type by fstatat (a link stays a link);
    // DT_UNKNOWN when even that fails.
    static unsigned char settledType(int directoryFd, std::string_view name, unsigned char reportedType);

    // Opens a directory for listing; a symbolic link is not followed. Invalid on failure.
    static FileDescriptor openDirectory(const std::string &path);

    // For tests: asked before each reading of a listing (its folder, the reading's number from
    // 0) for an errno to fail it with, 0 for none; as a failing disk answers midway.
    using FailureForTesting = std::function<int(int directoryFd, int reading)>;
    static void setFailureForTesting(FailureForTesting failure);
};
