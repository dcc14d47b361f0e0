#include "KernelRoots.h"

#include <mutex>

namespace
{
struct Roots
{
    std::mutex mutex;
    std::string proc = "/proc";
    std::string sys = "/sys";
};

Roots &roots()
{
    static Roots instance;
    return instance;
}
}

std::string KernelRoots::procRoot()
{
    std::lock_guard lock(roots().mutex);
    return roots().proc;
}

std::string KernelRoots::sysRoot()
{
    std::lock_guard lock(roots().mutex);
    return roots().sys;
}

void KernelRoots::setProcRootForTesting(const std::string &path)
{
    std::lock_guard lock(roots().mutex);
    roots().proc = path.empty() ? "/proc" : path;
}

void KernelRoots::setSysRootForTesting(const std::string &path)
{
    std::lock_guard lock(roots().mutex);
    roots().sys = path.empty() ? "/sys" : path;
}
