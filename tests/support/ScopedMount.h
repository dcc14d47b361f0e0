#pragma once

#include <string>

// A real mount for root-only tests, unmounted when the object goes. Declare it after the
// TemporaryDirectory that holds its mount point, so that it is unmounted first.
class ScopedMount
{
public:
    // mount(2) of a kernel file system: "tmpfs", "ramfs"; readOnly adds MS_RDONLY.
    ScopedMount(const std::string &type, const std::string &mountPoint, bool readOnly = false);
    // A bind mount of the folder `source` on the folder `mountPoint` (the same file system).
    static ScopedMount bind(const std::string &source, const std::string &mountPoint);
    // mount(2) from a source of one's choosing with options: a tmpfs of a size ("size=4m", whose
    // block count and so disk key follow the size), a ramfs from "host:/export" (a server).
    ScopedMount(const std::string &type, const std::string &mountPoint, const std::string &source,
                const std::string &options);
    // An exFAT image through exfat-fuse on a loop device (the mount command does the loop set-up).
    static ScopedMount exfatImage(const std::string &image, const std::string &mountPoint);
    // Makes an empty 8 MiB exFAT image file; false when mkfs.exfat is missing or fails.
    static bool makeExfatImage(const std::string &image);
    ~ScopedMount();
    ScopedMount(const ScopedMount &) = delete;
    ScopedMount &operator=(const ScopedMount &) = delete;
    ScopedMount(ScopedMount &&other) noexcept;

    bool isMounted() const { return m_mounted; }
    // Why the mount failed, for the test's message.
    const std::string &failure() const { return m_failure; }

private:
    ScopedMount() = default;

    std::string m_mountPoint;
    bool m_mounted = false;
    std::string m_failure;
};
