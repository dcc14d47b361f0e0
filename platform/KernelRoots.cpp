#include "KernelRoots.h"

#include "ReplaceableFolder.h"

namespace
{
ReplaceableFolder &procFolder()
{
    static ReplaceableFolder folder("/proc");
    return folder;
}

ReplaceableFolder &sysFolder()
{
    static ReplaceableFolder folder("/sys");
    return folder;
}
}

std::string KernelRoots::procRoot()
{
    return procFolder().path();
}

std::string KernelRoots::sysRoot()
{
    return sysFolder().path();
}

void KernelRoots::setProcRootForTesting(const std::string &path)
{
    procFolder().replaceForTesting(path);
}

void KernelRoots::setSysRootForTesting(const std::string &path)
{
    sysFolder().replaceForTesting(path);
}
