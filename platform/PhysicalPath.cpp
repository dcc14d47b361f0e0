#include "PhysicalPath.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "FileDescriptor.h"

namespace
{
std::optional<std::string> resolvedByComponents(const std::string &path)
{
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return std::nullopt;
    return std::string(resolved);
}
}

std::optional<std::string> physicalPath(const std::string &path)
{
    if (path.empty())
        return std::nullopt;
    const FileDescriptor item(open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!item.isValid())
        return std::nullopt;
    // Where the kernel's name is no path, ask component by component.
    if (std::optional<std::string> named = physicalPathOfDescriptor(item.get()))
        return named;
    return resolvedByComponents(path);
}

std::optional<std::string> physicalPathOfDescriptor(int descriptor)
{
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    char target[PATH_MAX];
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
        return std::nullopt;
    const std::string_view name(target, static_cast<std::size_t>(length));
    if (name.front() != '/' || name.ends_with(" (deleted)"))
        return std::nullopt;
    return std::string(name);
}
