// Times the background watcher on a kept-clean tree against a plain inotify loop.
//
// A tree of N folders (folder i hangs below a folder chosen among the ones made before it, with
// a fixed seed) is copied afresh for each contestant, and each contestant runs in a process of
// its own, started from this program:
//   watcher   the real XEngineFSEvents with its FileSystemEventStream, the tree kept clean by a
//             settings record of its own ("logDeletions" on, as after a first launch), so that
//             each batch goes the real road to the engine;
//   inotify   a plain loop: a watch on every folder, kept by path as inotifywait -m -r keeps
//             them, and an unlink of ".DS_Store" as each IN_CREATE or IN_CLOSE_WRITE arrives.
// When a contestant has its watches, this process creates M ".DS_Store" files in as many
// folders and waits, through an inotify instance of its own, for the last of them to go. The
// time is taken from the end of the batching delay (6 seconds after the first file; no delay
// for the loop) to the last deletion. The contestant reports its CPU time (getrusage, setting
// up the watches and the burst apart), its resident memory once its watches are set and its
// peak (VmHWM). Contestants take turns for a number of rounds; medians are printed, and the
// ratios against the loop on lines with the word "ratio", the watcher's memory on a line with "MB".
//
// The two contestants never watch at once: their watches count against one per-user limit
// (/proc/sys/fs/inotify/max_user_watches).
//
// Usage: WatcherBench [folders (default 100000)] [files (default 10000)] [work folder (default /tmp)]
//                     [rounds (default 3)]

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "BenchSupport.h"
#include "FileSystemEventStream.h"
#include "PreferencesSupport.h"
#include "UserDefaults.h"
#include "XEngineFSEvents.h"
#include "XTWStore.h"

extern char **environ;

namespace
{
namespace fs = std::filesystem;
using namespace BenchSupport;
using Clock = std::chrono::steady_clock;

constexpr const char *burstName = ".DS_Store";
const double batchingDelay = std::chrono::duration<double>(FileSystemEventStream::applicationLatency).count();

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &time) { return double(time.tv_sec) + double(time.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double megabytes(long kib)
{
    return double(kib) * 1024 / 1e6;
}

std::string realPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// Folder i hangs below a folder chosen among the ones made before it; answers every folder
// made, relative to the root.
std::vector<std::string> buildTree(const fs::path &root, int folders)
{
    std::mt19937 random(20261208);
    std::vector<std::string> made{""};
    fs::create_directories(root);
    for (int index = 1; index < folders; ++index) {
        const std::string &parent = made[random() % made.size()];
        made.push_back(parent + (parent.empty() ? "" : "/") + "f" + std::to_string(index));
        fs::create_directory(root / made.back());
    }
    return made;
}

// What a contestant reports of itself.
struct Report
{
    double setupCpu = 0;
    double burstCpu = 0;
    long residentAtStartKiB = 0;
    long residentAfterSetupKiB = 0;
    long peakKiB = 0;
};

// A contestant's side of the conversation with this program: "ready" once its watches are set,
// then the burst until a line arrives on its standard input, then its figures.
class ContestantSide
{
public:
    ContestantSide() : m_residentAtStart(statusKiB("VmRSS:")) {}

    void ready()
    {
        m_setupCpu = cpuSeconds();
        m_residentAfterSetup = statusKiB("VmRSS:");
        std::printf("ready\n");
        std::fflush(stdout);
    }

    [[noreturn]] void finish()
    {
        std::printf("report %.6f %.6f %ld %ld %ld\n", m_setupCpu, cpuSeconds() - m_setupCpu, m_residentAtStart,
                    m_residentAfterSetup, statusKiB("VmHWM:"));
        std::fflush(stdout);
        // Nothing is torn down: the watcher's thread and its engines may still hold work.
        ::_exit(0);
    }

private:
    const long m_residentAtStart;
    double m_setupCpu = 0;
    long m_residentAfterSetup = 0;
};

// The yardstick: every folder watched by path, the created file unlinked at once.
[[noreturn]] void runInotifyLoop(const std::string &root)
{
    ContestantSide side;
    const int inotify = inotify_init1(IN_CLOEXEC);
    const std::uint32_t mask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW;
    std::unordered_map<int, std::string> pathOfWatch;
    const auto watchTree = [&](const std::string &top) {
        std::vector<std::string> pending{top};
        while (!pending.empty()) {
            const std::string folder = std::move(pending.back());
            pending.pop_back();
            const int wd = inotify_add_watch(inotify, folder.c_str(), mask);
            if (wd < 0) {
                std::fprintf(stderr, "inotify loop: cannot watch %s: %s\n", folder.c_str(), std::strerror(errno));
                continue;
            }
            pathOfWatch[wd] = folder;
            DIR *directory = opendir(folder.c_str());
            if (!directory)
                continue;
            while (const dirent *entry = readdir(directory)) {
                if (entry->d_type == DT_DIR && std::strcmp(entry->d_name, ".") != 0
                    && std::strcmp(entry->d_name, "..") != 0)
                    pending.push_back(folder + "/" + entry->d_name);
            }
            closedir(directory);
        }
    };
    watchTree(root);
    side.ready();

    pollfd sources[2] = {{inotify, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    alignas(inotify_event) char buffer[65536];
    for (;;) {
        if (poll(sources, 2, -1) < 0 && errno != EINTR)
            break;
        if (sources[1].revents)
            break;
        const ssize_t length = read(inotify, buffer, sizeof buffer);
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            const auto watch = pathOfWatch.find(event->wd);
            if (watch == pathOfWatch.end() || event->len == 0)
                continue;
            const std::string item = watch->second + "/" + event->name;
            if (event->mask & IN_ISDIR)
                watchTree(item);
            else if (std::strcmp(event->name, burstName) == 0)
                unlink(item.c_str());
        }
    }
    side.finish();
}

// The application's watcher, keeping the tree clean through a settings record of its own.
[[noreturn]] void runWatcher(int argc, char **argv, const std::string &root, const std::string &home)
{
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    QCoreApplication application(argc, argv);
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setFilePathForTesting(home + "/defaults.plist");
    PreferencesSupport::registerBundleDefaults(defaults);
    defaults.setObject(Value(true), "logDeletions");
    XTWStore &store = XTWStore::shared();
    store.load();
    // Only the tree is watched, not every volume of the machine.
    store.disableAnyServerAndAnyDiskCleaning();
    if (!store.addDetailsForVolumeAtPath(root, XFSDiskOrDirectory::CleanMode::alwaysClean)) {
        std::fprintf(stderr, "watcher: no settings record for %s\n", root.c_str());
        ::_exit(1);
    }

    ContestantSide side;
    XEngineFSEvents watcher(FileSystemEventStream::applicationLatency);
    watcher.makeThread();
    const auto watching = [&watcher, watchedRoot = realPath(root)] {
        const std::vector<std::string> roots = watcher.watchedRoots();
        return std::find(roots.begin(), roots.end(), watchedRoot) != roots.end();
    };
    while (!watching()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        application.processEvents();
    }
    side.ready();

    QSocketNotifier finished(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&finished, &QSocketNotifier::activated, &application, [&side] { side.finish(); });
    application.exec();
    side.finish();
}

// One contestant started on a fresh copy, the burst made and timed.
class Contest
{
public:
    Contest(const std::string &program, const std::string &kind, const fs::path &copy, const fs::path &home)
    {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        // The watcher's deletion lines would time the terminal.
        if (kind == "watcher")
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const std::vector<std::string> arguments = {program, "--contestant", kind, copy.string(), home.string()};
        std::vector<char *> argv;
        for (const std::string &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&m_child, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start " + program);
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        m_toChild = toChild[1];
        m_fromChild = fdopen(fromChild[0], "r");
    }

    bool awaitReady() { return readLine().rfind("ready", 0) == 0; }

    // Creates the files and answers the seconds from the first creation to the last deletion;
    // negative when they were not all gone within the deadline.
    double burst(const std::vector<std::string> &folders, std::chrono::seconds deadline)
    {
        const int inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        for (const std::string &folder : folders)
            inotify_add_watch(inotify, folder.c_str(), IN_DELETE | IN_ONLYDIR);
        const Clock::time_point start = Clock::now();
        for (const std::string &folder : folders) {
            const int fd = open((folder + "/" + burstName).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                (void)!write(fd, "Bud1", 4);
                close(fd);
            }
        }
        std::size_t gone = 0;
        Clock::time_point last = start;
        alignas(inotify_event) char buffer[65536];
        while (gone < folders.size() && Clock::now() - start < deadline) {
            pollfd source{inotify, POLLIN, 0};
            if (poll(&source, 1, 100) <= 0)
                continue;
            const ssize_t length = read(inotify, buffer, sizeof buffer);
            for (ssize_t offset = 0; offset < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
                offset += ssize_t(sizeof(inotify_event) + event->len);
                if ((event->mask & IN_DELETE) && event->len > 0 && std::strcmp(event->name, burstName) == 0) {
                    ++gone;
                    last = Clock::now();
                }
            }
        }
        close(inotify);
        return gone == folders.size() ? std::chrono::duration<double>(last - start).count() : -1;
    }

    Report finish()
    {
        (void)!write(m_toChild, "done\n", 5);
        Report report;
        const std::string line = readLine();
        std::sscanf(line.c_str(), "report %lf %lf %ld %ld %ld", &report.setupCpu, &report.burstCpu,
                    &report.residentAtStartKiB, &report.residentAfterSetupKiB, &report.peakKiB);
        int status = 0;
        waitpid(m_child, &status, 0);
        close(m_toChild);
        fclose(m_fromChild);
        return report;
    }

private:
    std::string readLine()
    {
        char line[512];
        return fgets(line, sizeof line, m_fromChild) ? std::string(line) : std::string();
    }

    pid_t m_child = 0;
    int m_toChild = -1;
    FILE *m_fromChild = nullptr;
};

struct Figures
{
    std::vector<double> seconds, setupCpu, burstCpu, startMB, residentMB, peakMB;

    void add(double time, const Report &report)
    {
        seconds.push_back(time);
        setupCpu.push_back(report.setupCpu);
        burstCpu.push_back(report.burstCpu);
        startMB.push_back(megabytes(report.residentAtStartKiB));
        residentMB.push_back(megabytes(report.residentAfterSetupKiB));
        peakMB.push_back(megabytes(report.peakKiB));
    }
};

void printFigures(const char *name, const Figures &figures)
{
    std::printf("%-8s | %8.3f | %8.3f %8.3f | %8.1f %10.1f %8.1f\n", name, median(figures.seconds),
                median(figures.setupCpu), median(figures.burstCpu), median(figures.startMB),
                median(figures.residentMB), median(figures.peakMB));
}

}

int main(int argc, char **argv)
{
    if (argc == 5 && std::string(argv[1]) == "--contestant") {
        if (std::string(argv[2]) == "inotify")
            runInotifyLoop(argv[3]);
        runWatcher(argc, argv, argv[3], argv[4]);
    }
    const int folders = std::max(2, argc > 1 ? std::atoi(argv[1]) : 100000);
    const int files = std::clamp(argc > 2 ? std::atoi(argv[2]) : 10000, 1, folders);
    const fs::path work = fs::path(argc > 3 ? argv[3] : "/tmp") / ("tarnwick-watcher-bench-" + std::to_string(getpid()));
    const int rounds = std::max(1, argc > 4 ? std::atoi(argv[4]) : 3);
    const std::string program = realPath("/proc/self/exe");

    const fs::path master = work / "master";
    std::printf("building a tree of %d folders in %s\n", folders, master.c_str());
    std::fflush(stdout);
    std::vector<std::string> chosen = buildTree(master, folders);
    std::shuffle(chosen.begin(), chosen.end(), std::mt19937(7));
    chosen.resize(std::size_t(files));

    Figures watcherFigures, loopFigures;
    bool complete = true;
    for (int round = 0; round < rounds; ++round) {
        for (const std::string kind : {"watcher", "inotify"}) {
            const fs::path copy = work / ("tree-" + kind);
            const fs::path home = work / ("home-" + kind);
            fs::remove_all(copy);
            fs::remove_all(home);
            fs::create_directories(home);
            runProgram({"cp", "-a", master.string(), copy.string()});
            entryCount(copy);
            sync();
            std::vector<std::string> burstFolders;
            for (const std::string &relative : chosen)
                burstFolders.push_back(relative.empty() ? copy.string() : (copy / relative).string());

            Contest contest(program, kind, copy, home);
            if (!contest.awaitReady()) {
                std::fprintf(stderr, "the %s contestant did not start\n", kind.c_str());
                return 1;
            }
            const double seconds = contest.burst(burstFolders, std::chrono::seconds(120));
            const Report report = contest.finish();
            if (seconds < 0) {
                std::printf("round %d, %s: the burst was not all deleted within 120 s\n", round + 1, kind.c_str());
                complete = false;
                continue;
            }
            const bool isWatcher = kind == "watcher";
            const double afterDelay = isWatcher ? seconds - batchingDelay : seconds;
            (isWatcher ? watcherFigures : loopFigures).add(afterDelay, report);
            std::printf("round %d, %-7s: %.3f s after the delay, CPU %.3f s setup + %.3f s burst, RSS %.1f MB "
                        "at start, %.1f MB once watching, peak %.1f MB\n",
                        round + 1, kind.c_str(), afterDelay, report.setupCpu, report.burstCpu,
                        megabytes(report.residentAtStartKiB), megabytes(report.residentAfterSetupKiB),
                        megabytes(report.peakKiB));
            std::fflush(stdout);
            fs::remove_all(copy);
            fs::remove_all(home);
        }
    }
    fs::remove_all(work);
    if (!complete || watcherFigures.seconds.empty() || loopFigures.seconds.empty())
        return 1;

    std::printf("\n%d folders, %d \"%s\" files; medians of %d rounds\n", folders, files, burstName, rounds);
    std::printf("%-8s | %8s | %8s %8s | %8s %10s %8s\n", "", "time s", "setup s", "burst s", "start MB",
                "watching MB", "peak MB");
    printFigures("watcher", watcherFigures);
    printFigures("inotify", loopFigures);
    const double timeRatio = median(watcherFigures.seconds) / median(loopFigures.seconds);
    const double cpuRatio = median(watcherFigures.burstCpu) / median(loopFigures.burstCpu);
    std::printf("burst CPU, watcher / inotify loop ratio %.2f (target at most 3)\n", cpuRatio);
    std::printf("time after the batching delay, watcher / inotify loop ratio %.2f (target at most 2)\n", timeRatio);
    std::printf("watcher memory on %d folders: peak %.1f MB for the whole process, %.1f MB once watching "
                "(target at most 60 MB on 100,000 folders); the inotify loop: peak %.1f MB, %.1f MB once watching, "
                "%.1f MB of it its libraries at start\n",
                folders, median(watcherFigures.peakMB), median(watcherFigures.residentMB), median(loopFigures.peakMB),
                median(loopFigures.residentMB), median(loopFigures.startMB));
    return 0;
}
