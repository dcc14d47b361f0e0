#include "DeviceRoots.h"

#include "ReplaceableFolder.h"

namespace
{
ReplaceableFolder &devFolder()
{
    static ReplaceableFolder folder("/dev");
    return folder;
}

ReplaceableFolder &udevFolder()
{
    static ReplaceableFolder folder("/run/udev");
    return folder;
}
}

std::string DeviceRoots::devRoot()
{
    return devFolder().path();
}

std::string DeviceRoots::udevRoot()
{
    return udevFolder().path();
}

void DeviceRoots::setDevRootForTesting(const std::string &path)
{
    devFolder().replaceForTesting(path);
}

void DeviceRoots::setUdevRootForTesting(const std::string &path)
{
    udevFolder().replaceForTesting(path);
}

std::string DeviceRoots::mapDevicePath(const std::string &path)
{
    if (path.rfind("/dev/", 0) != 0)
        return path;
    return devRoot() + path.substr(4);
}
