#include "FileDates.h"

#include <fcntl.h>
#include <sys/stat.h>

std::optional<Date> fileCreationDate(const std::string &path)
{
    struct statx info{};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &info) != 0)
        return std::nullopt;
    const struct statx_timestamp &stamp = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime;
    return Date{double(stamp.tv_sec) + double(stamp.tv_nsec) / 1e9};
}
