#pragma once

#include <optional>
#include <sys/types.h>

#include "TallowExport.h"

// Who an open file or folder is (its device and inode), to know it again when it is opened
// once more by another way.
struct TALLOW_EXPORT FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;

    bool operator==(const FileIdentity &) const = default;

    // Nothing when the descriptor cannot be asked.
    static std::optional<FileIdentity> of(int fd);
};
