#include "ScopedMount.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

ScopedMount::ScopedMount(const std::string &type, const std::string &mountPoint, bool readOnly)
    : m_mountPoint(mountPoint)
{
    const unsigned long flags = MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    m_mounted = mount(type.c_str(), mountPoint.c_str(), type.c_str(), flags, nullptr) == 0;
    if (!m_mounted)
        m_failure = "mount -t " + type + ": " + std::strerror(errno);
}

ScopedMount ScopedMount::bind(const std::string &source, const std::string &mountPoint)
{
    ScopedMount result;
    result.m_mountPoint = mountPoint;
    result.m_mounted = mount(source.c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr) == 0;
    if (!result.m_mounted)
        result.m_failure = "mount --bind: " + std::string(std::strerror(errno));
    return result;
}

ScopedMount::ScopedMount(const std::string &type, const std::string &mountPoint, const std::string &source,
                         const std::string &options)
    : m_mountPoint(mountPoint)
{
    m_mounted = mount(source.c_str(), mountPoint.c_str(), type.c_str(), MS_NOSUID | MS_NODEV,
                      options.empty() ? nullptr : options.c_str()) == 0;
    if (!m_mounted)
        m_failure = "mount -t " + type + " " + source + ": " + std::strerror(errno);
}

bool ScopedMount::makeExfatImage(const std::string &image)
{
    const std::string make = "truncate -s 8M '" + image + "' && mkfs.exfat '" + image + "' >/dev/null 2>&1";
    return std::system(make.c_str()) == 0;
}

ScopedMount ScopedMount::exfatImage(const std::string &image, const std::string &mountPoint)
{
    ScopedMount result;
    result.m_mountPoint = mountPoint;
    const pid_t child = fork();
    if (child == 0) {
        execlp("mount", "mount", "-t", "exfat-fuse", "-o", "loop", image.c_str(), mountPoint.c_str(),
               static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    result.m_mounted = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!result.m_mounted)
        result.m_failure = "mount -t exfat-fuse -o loop failed";
    return result;
}

ScopedMount::ScopedMount(ScopedMount &&other) noexcept
    : m_mountPoint(std::move(other.m_mountPoint)), m_mounted(other.m_mounted), m_failure(std::move(other.m_failure))
{
    other.m_mounted = false;
}

ScopedMount::~ScopedMount()
{
    if (!m_mounted)
        return;
    // A lazy unmount only when something still holds the volume; the loop device of a
    // fuse mount is released when the fuse process ends.
    if (umount2(m_mountPoint.c_str(), 0) != 0)
        umount2(m_mountPoint.c_str(), MNT_DETACH);
}
