#include "FileIdentity.h"

#include <sys/stat.h>

std::optional<FileIdentity> FileIdentity::of(int fd)
{
    struct stat status;
    if (fstat(fd, &status) != 0)
        return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino};
}
