#include "PretendBurningMachine.h"

#include <atomic>
#include <chrono>
#include <filesystem>

#include "DeviceRoots.h"
#include "DiscRecordingWatcher.h"
#include "KernelRoots.h"
#include "MonotonicClock.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
std::atomic<std::chrono::seconds> ahead{0s};
}

PretendBurningMachine::PretendBurningMachine()
    : m_sys(m_machine.file("sys"))
{
    const std::string dev = m_machine.file("dev"), proc = m_machine.file("proc");
    fs::create_directories(m_sys + "/class/block/sr0");
    writeFile(m_sys + "/class/block/sr0/uevent", "DEVNAME=sr0\n");
    fs::create_directories(dev);
    writeFile(dev + "/sr0", "");
    fs::create_directories(proc + "/4242");
    writeFile(proc + "/4242/comm", "wodim\n");
    writeFile(proc + "/4242/cmdline", std::string("wodim\0dev=", 10) + dev + "/sr0" + '\0');
    KernelRoots::setSysRootForTesting(m_sys);
    KernelRoots::setProcRootForTesting(proc);
    DeviceRoots::setDevRootForTesting(dev);
    stepAhead();
    MonotonicClock::setNowForTesting([] { return std::chrono::steady_clock::now() + ahead.load(); });
}

PretendBurningMachine::~PretendBurningMachine()
{
    MonotonicClock::setNowForTesting({});
    KernelRoots::setSysRootForTesting({});
    KernelRoots::setProcRootForTesting({});
    DeviceRoots::setDevRootForTesting({});
}

void PretendBurningMachine::removeDrive()
{
    fs::remove_all(m_sys + "/class/block/sr0");
    stepAhead();
}

void PretendBurningMachine::stepAhead()
{
    ahead = ahead.load() + DiscRecordingWatcher::rescanInterval + 1s;
}
