#include "VolumeUnmounter.h"

#include <cstdlib>
#include <optional>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "MountTable.h"

extern char **environ;

namespace
{
std::optional<std::string> executableInPath(const std::string &name)
{
    const char *path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t colon = folders.find(':', start);
        const std::string folder = folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!folder.empty()) {
            const std::string candidate = folder + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return std::nullopt;
}

// Runs the program with its arguments, no shell; true when it exits with 0.
bool run(const std::string &program, const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string withoutFinalSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}
}

bool VolumeUnmounter::unmountAndEjectDeviceAtPath(const std::string &path)
{
    const std::string mountPoint = withoutFinalSlashes(path);
    const std::optional<MountEntry> mount = MountTable::current().mountAt(mountPoint);
    if (!mount)
        return false;
    if (mount->source.starts_with("/dev/")) {
        if (const std::optional<std::string> udisksctl = executableInPath("udisksctl")) {
            if (run(*udisksctl, {"unmount", "--no-user-interaction", "-b", mount->source})) {
                run(*udisksctl, {"power-off", "--no-user-interaction", "-b", mount->source});
                return true;
            }
        }
    }
    return umount2(mountPoint.c_str(), 0) == 0;
}
