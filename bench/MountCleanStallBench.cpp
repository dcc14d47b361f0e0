// Measures how long the main thread is held up while a newly mounted disk's root folders are
// cleaned. An exFAT image (exfat-fuse on a loop device, mounted under /mnt/) holds a given number
// of empty files in ".Trashes" at its root, a thousand to a folder below ".Trashes/501"; it is
// unmounted and mounted again, so that the clean meets a freshly mounted disk, and kept clean
// through a settings record of its own (the catch-all records for disks and servers are off, so
// no other volume of the machine is touched). Then XEngine::cleanAllVolumes, the clean made ten
// seconds after a mount, is called from the main thread's event loop while a timer on the main
// thread ticks every 5 ms. Prints the main thread's longest stall (the lateness of its latest
// tick) while idle and during the clean, the clean's duration, and the stall against the 100 ms
// target on a line with the word "ratio". Needs root (mount); prints a skip line otherwise.
//
// Usage: MountCleanStallBench [work folder (default /tmp)] [files (default 80000)]

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

#include "BenchHome.h"
#include "BenchSupport.h"
#include "XEngine.h"
#include "XTWStore.h"

namespace
{
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto tickInterval = 5ms;
constexpr double targetStallMs = 100.0;
constexpr int filesPerFolder = 1000;
constexpr auto idleSpan = 1s;
constexpr auto cleanDeadline = 10min;

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen + " (" + std::to_string(std::thread::hardware_concurrency()) + " CPUs)";
}

// The image mounted at the folder through exfat-fuse on a loop device, unmounted when dropped.
class ExfatMount
{
public:
    ExfatMount(const std::string &image, const std::string &mountPoint)
        : m_mountPoint(mountPoint),
          m_mounted(BenchSupport::runProgram({"mount", "-t", "exfat-fuse", "-o", "loop", image, mountPoint}))
    {
    }
    ~ExfatMount()
    {
        if (!m_mounted)
            return;
        // The loop device goes when the fuse process ends; a lazy unmount only when busy.
        if (umount2(m_mountPoint.c_str(), 0) != 0)
            umount2(m_mountPoint.c_str(), MNT_DETACH);
    }
    ExfatMount(const ExfatMount &) = delete;
    ExfatMount &operator=(const ExfatMount &) = delete;

    bool isMounted() const { return m_mounted; }

private:
    std::string m_mountPoint;
    bool m_mounted;
};

bool makeTrash(const fs::path &root, int files)
{
    for (int index = 0; index < files; ++index) {
        const fs::path folder = root / ".Trashes" / "501" / ("d" + std::to_string(index / filesPerFolder));
        if (index % filesPerFolder == 0) {
            std::error_code error;
            fs::create_directories(folder, error);
            if (error)
                return false;
        }
        const int fd = open((folder / ("file" + std::to_string(index))).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        close(fd);
    }
    return true;
}

// The longest lateness of the main thread's ticks while idle, and during the clean from the call
// until the engine has left the active engines with the folder gone.
struct Stalls
{
    double idleMs = 0;
    double cleanMs = 0;
    double callMs = 0;
    double durationMs = 0;
    bool finished = false;
};

Stalls measure(QCoreApplication &application, const fs::path &trash)
{
    Stalls stalls;
    enum class Phase { idle, cleaning, done } phase = Phase::idle;
    const std::size_t enginesBefore = XEngine::activeEngines().size();
    const Clock::time_point begun = Clock::now();
    Clock::time_point lastTick = begun;
    Clock::time_point cleanStart;
    bool callReturned = false;

    // The folder is watched from a thread of its own: the main thread never waits on the disk.
    std::atomic<bool> trashGone{false};
    std::atomic<bool> stopWatching{false};
    std::thread watcher([&] {
        while (!stopWatching.load() && fs::exists(trash))
            std::this_thread::sleep_for(tickInterval);
        trashGone = !fs::exists(trash);
    });

    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(tickInterval);
    QObject::connect(&ticker, &QTimer::timeout, &application, [&] {
        const Clock::time_point now = Clock::now();
        const double lateness = std::max(0.0, millisecondsBetween(lastTick, now) - double(tickInterval.count()));
        lastTick = now;
        if (phase == Phase::idle) {
            stalls.idleMs = std::max(stalls.idleMs, lateness);
            if (now - begun < idleSpan)
                return;
            phase = Phase::cleaning;
            cleanStart = Clock::now();
            XEngine::cleanAllVolumes();
            stalls.callMs = millisecondsBetween(cleanStart, Clock::now());
            callReturned = true;
            return;
        }
        if (phase != Phase::cleaning)
            return;
        stalls.cleanMs = std::max(stalls.cleanMs, lateness);
        const bool engineGone = callReturned && XEngine::activeEngines().size() == enginesBefore;
        if ((engineGone && trashGone.load()) || now - cleanStart > cleanDeadline) {
            stalls.durationMs = millisecondsBetween(cleanStart, now);
            stalls.finished = trashGone.load();
            phase = Phase::done;
            application.quit();
        }
    });
    ticker.start();
    application.exec();
    stopWatching = true;
    watcher.join();
    return stalls;
}
}

int main(int argc, char **argv)
{
    if (geteuid() != 0) {
        std::printf("MountCleanStallBench: skipped (mounting an exFAT image needs root)\n");
        return 0;
    }
    const fs::path work = argc > 1 ? argv[1] : "/tmp";
    const int files = argc > 2 ? std::atoi(argv[2]) : 80000;
    const BenchHome home;
    if (home.path().empty()) {
        std::fprintf(stderr, "MountCleanStallBench: no home folder\n");
        return 1;
    }
    std::string scratch = (work / "MountCleanStall-XXXXXX").string();
    std::string mountPoint = "/mnt/TarnwickStall-XXXXXX";
    if (!mkdtemp(scratch.data()) || !mkdtemp(mountPoint.data())) {
        std::fprintf(stderr, "MountCleanStallBench: no work folders\n");
        return 1;
    }
    const std::string image = scratch + "/disk.img";
    int result = 1;
    {
        // Room for the directory entries; the files themselves take no clusters.
        if (!BenchSupport::runProgram({"truncate", "-s", "512M", image})
            || !BenchSupport::runProgram({"mkfs.exfat", image}, "/dev/null", "/dev/null")) {
            std::fprintf(stderr, "MountCleanStallBench: mkfs.exfat is missing or failed\n");
        } else {
            const Clock::time_point made = Clock::now();
            bool filled = false;
            {
                const ExfatMount mounted(image, mountPoint);
                filled = mounted.isMounted() && makeTrash(mountPoint, files);
            }
            const double makeSeconds = millisecondsBetween(made, Clock::now()) / 1000;
            const ExfatMount mounted(image, mountPoint);
            if (!filled || !mounted.isMounted()) {
                std::fprintf(stderr, "MountCleanStallBench: the exFAT disk could not be mounted or filled\n");
            } else {
                QCoreApplication application(argc, argv);
                XTWStore &store = XTWStore::shared();
                store.load();
                store.disableAnyServerAndAnyDiskCleaning();
                if (!store.addDetailsForVolumeAtPath(mountPoint, XFSDiskOrDirectory::CleanMode::alwaysClean)) {
                    std::fprintf(stderr, "MountCleanStallBench: no settings record for %s\n", mountPoint.c_str());
                } else {
                    std::printf("MountCleanStallBench: %d files in .Trashes on an exFAT disk (exfat-fuse, loop), made "
                                "in %.1f s\n",
                                files, makeSeconds);
                    std::printf("load average before: %s\n", loadAverage().c_str());
                    const Stalls stalls = measure(application, fs::path(mountPoint) / ".Trashes");
                    std::printf("load average after: %s\n", loadAverage().c_str());
                    std::printf("main thread idle: longest stall %.1f ms over %lld ms\n", stalls.idleMs,
                                static_cast<long long>(std::chrono::milliseconds(idleSpan).count()));
                    std::printf("cleanAllVolumes call on the main thread: %.1f ms\n", stalls.callMs);
                    std::printf("clean of the disk's root folders: %.2f s, .Trashes %s\n", stalls.durationMs / 1000,
                                stalls.finished ? "removed" : "NOT removed");
                    std::printf("main thread's longest stall during the clean: %.1f ms\n", stalls.cleanMs);
                    std::printf("stall ratio to the %.0f ms target: %.3f (target: at most 1)\n", targetStallMs,
                                stalls.cleanMs / targetStallMs);
                    result = stalls.finished ? 0 : 1;
                }
            }
        }
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    fs::remove(mountPoint, ignored);
    return result;
}
