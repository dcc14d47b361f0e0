#include "ReaddirIterator.h"

#include <cstdint>
#include <dirent.h>
#include <memory>
#include <unistd.h>

#include "DirectoryRecords.h"

namespace
{
constexpr std::size_t bufferSize = 32768;
}

readdirIterator::Results readdirIterator::contentsOfDirectory(const std::string &directory)
{
    const FileDescriptor fd = DirectoryRecords::openDirectory(directory);
    if (!fd.isValid())
        return Results();
    return contentsOfDirectoryAt(fd.get(), directory);
}

readdirIterator::Results readdirIterator::contentsOfDirectoryAt(int directoryFd, const std::string &directory)
{
    Results results;
    if (lseek(directoryFd, 0, SEEK_SET) != 0)
        return results;
    const std::string prefix = directory.ends_with('/') ? directory : directory + "/";
    const auto buffer = std::make_unique<std::uint8_t[]>(bufferSize);
    DirectoryRecords::read(directoryFd, buffer.get(), bufferSize, [&](std::string_view name, unsigned char type) {
        if (name.empty())
            return;
        if (type == DT_REG)
            results.files.push_back(prefix + std::string(name));
        else if (type == DT_DIR)
            results.directories.push_back(prefix + std::string(name));
    });
    return results;
}
