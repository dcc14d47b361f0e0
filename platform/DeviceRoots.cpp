#include "DeviceRoots.h"

#include <mutex>

namespace
{
struct Roots
{
    std::mutex mutex;
    std::string dev = "/dev";
    std::string udev = "/run/udev";
};

Roots &roots()
{
    static Roots instance;
    return instance;
}
}

std::string DeviceRoots::devRoot()
{
    std::lock_guard lock(roots().mutex);
    return roots().dev;
}

std::string DeviceRoots::udevRoot()
{
    std::lock_guard lock(roots().mutex);
    return roots().udev;
}

void DeviceRoots::setDevRootForTesting(const std::string &path)
{
    std::lock_guard lock(roots().mutex);
    roots().dev = path.empty() ? "/dev" : path;
}

void DeviceRoots::setUdevRootForTesting(const std::string &path)
{
    std::lock_guard lock(roots().mutex);
    roots().udev = path.empty() ? "/run/udev" : path;
}

std::string DeviceRoots::mapDevicePath(const std::string &path)
{
    if (path.rfind("/dev/", 0) != 0)
        return path;
    return devRoot() + path.substr(4);
}
