// Times the engine's walk of a folder tree, with every deletion option on, against
// `find T -name .DS_Store -delete` and against a find that deletes every fixed metadata name,
// each on a fresh copy of the same tree, and checks that the walk and the all-names find
// leave the same files; and the same for a whole run of the application as a user starts it.
//
// Trees, built with a fixed seed:
//   a  10,000 folders with about 10 files each; 5% of folders hold ".DS_Store", 5% of files a "._" companion
//   b  the same shape with nothing to delete
//   c  one folder of 100,000 entries, 5% of them "._" companions
//   d  a chain of folders 1,000 deep with short names, ".DS_Store" in 5% of them
//   g  the same chain 2,000 deep (about the deepest a 4,096-byte path allows)
//   e  one folder of 1,000,000 empty files, half of them "._" companions
//   f  1,000,000 empty files spread over 40,000 folders, half of them "._" companions
//
// A tree's letter in lower case times the engine's walk in this process (cleanRecursively on a
// thread of its own, the main thread taking its hops), with the walk's peak memory over what
// the process held before. In upper case it times the whole run: the real executable,
// `tarnwick TREE MARKER` started fresh, and the same handed to a running instance, from the
// start until the marker folder's ".DS_Store" (cleaned right after the tree) is gone; with the
// application's peak memory over that of the idle application. Each runs with "logDeletions"
// off and on. Every contestant runs in turn for a number of rounds, each on a fresh copy
// written out to disk; the medians are printed, and each figure against its target on a line
// with the word "ratio" or "MB".
//
// Usage: EngineWalkBench [trees (default abcd)] [work folder (default /tmp)] [rounds (default 3)]

#include <QCoreApplication>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BenchApplication.h"
#include "BenchSupport.h"
#include "Logger.h"
#include "MainThread.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "UserDefaults.h"
#include "XEngine.h"
#include "XTWStore.h"

namespace
{
namespace fs = std::filesystem;
using namespace BenchSupport;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A tree that could not be built in full (a file system out of inodes) would time nothing.
void touch(const fs::path &path, bool empty = false)
{
    std::ofstream file(path);
    if (!empty)
        file << "x";
    file.close();
    if (!file) {
        std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
}

// Folder i hangs below a folder chosen among the ones made before it.
std::vector<fs::path> spreadFolders(const fs::path &root, int count, std::mt19937 &random)
{
    std::vector<fs::path> folders{root};
    for (int index = 1; index <= count; ++index) {
        const fs::path parent = folders[random() % folders.size()];
        // Appended rather than "f" + number: GCC 12 warns falsely of an overlapping copy there.
        std::string name = "f";
        name += std::to_string(index);
        folders.push_back(parent / name);
        fs::create_directory(folders.back());
    }
    return folders;
}

void buildSpread(const fs::path &root, bool withMetadata)
{
    std::mt19937 random(20261208);
    const std::vector<fs::path> folders = spreadFolders(root, 10000, random);
    for (std::size_t index = 1; index < folders.size(); ++index) {
        const int files = 5 + int(random() % 11);
        for (int file = 0; file < files; ++file) {
            const std::string name = "file" + std::to_string(file) + ".txt";
            touch(folders[index] / name);
            if (withMetadata && random() % 100 < 5)
                touch(folders[index] / ("._" + name));
        }
        if (withMetadata && random() % 100 < 5)
            touch(folders[index] / ".DS_Store");
    }
}

// Entries in one folder, `percent` of the data files with a "._" companion.
void buildWide(const fs::path &root, int entries, int percent, bool empty)
{
    std::mt19937 random(20261208);
    for (int index = 0; index < entries;) {
        const std::string name = "item" + std::to_string(index);
        touch(root / name, empty);
        ++index;
        if (int(random() % 100) < percent && index < entries) {
            touch(root / ("._" + name), empty);
            ++index;
        }
    }
    touch(root / ".DS_Store", empty);
}

// A million empty files over 40,000 folders, each data file with its companion.
void buildMillionSpread(const fs::path &root)
{
    std::mt19937 random(20261208);
    const std::vector<fs::path> folders = spreadFolders(root, 40000, random);
    int made = int(folders.size()) - 1;
    for (std::size_t index = 1; made < 1000000; index = index % (folders.size() - 1) + 1) {
        const std::string name = "file" + std::to_string(made);
        touch(folders[index] / name, true);
        touch(folders[index] / ("._" + name), true);
        made += 2;
    }
}

void buildChain(const fs::path &root, int depth)
{
    std::mt19937 random(20261208);
    fs::path folder = root;
    for (int level = 0; level < depth; ++level) {
        folder /= "d";
        fs::create_directory(folder);
        if (random() % 100 < 5)
            touch(folder / ".DS_Store");
    }
}

void build(char tree, const fs::path &root)
{
    fs::create_directories(root);
    switch (tree) {
    case 'a':
        buildSpread(root, true);
        break;
    case 'b':
        buildSpread(root, false);
        break;
    case 'c':
        buildWide(root, 100000, 5, false);
        break;
    case 'd':
        buildChain(root, 1000);
        break;
    case 'g':
        buildChain(root, 2000);
        break;
    case 'e':
        buildWide(root, 1000000, 100, true);
        break;
    case 'f':
        buildMillionSpread(root);
        break;
    }
}

// Runs the program and answers its peak memory in KiB, measured by GNU time (a child's own
// resource usage would include this process's, which it was spawned from); -1 without it.
long runMeasured(const std::vector<std::string> &arguments, const fs::path &report)
{
    if (access("/usr/bin/time", X_OK) != 0) {
        runProgram(arguments);
        return -1;
    }
    std::vector<std::string> measured = {"/usr/bin/time", "-f", "%M", "-o", report.string()};
    measured.insert(measured.end(), arguments.begin(), arguments.end());
    if (!runProgram(measured))
        return -1;
    std::ifstream in(report);
    long kib = -1;
    in >> kib;
    return kib;
}

std::set<std::string> survivors(const fs::path &root)
{
    std::set<std::string> paths;
    const std::size_t prefix = root.string().size();
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        paths.insert(it->path().string().substr(prefix));
    return paths;
}

// A record for the work folder with every deletion option on and no attribute kept, so
// that "._" files go whole, as the all-names find deletes them; always cleaned, as a folder
// handed to Tarnwick becomes.
void addRecordWithEveryOption(const std::string &folder)
{
    XTWStore &store = XTWStore::shared();
    store.addDetailsForVolumeAtPath(folder, XFSDiskOrDirectory::CleanMode::alwaysClean);
    XFSDiskOrDirectory record = *store.detailsForURL(URL::fileURLWithPath(folder), false, false);
    const std::set<std::string> off = {"volumeAttrs", "securityData", "tags",        "aliasData",
                                       "colorLabels", "customIcons",  "onlyCleanManually"};
    std::vector<XFSDetailsFlagItem> items;
    for (const XFSDetailsFlagItem &item : record.detailsFlags())
        items.push_back(item.withEnabled(!off.contains(item.uniqueKey())));
    record.updateFlags(items);
    store.update(record);
    store.save();
}

// The walk on a thread of its own while the main thread takes the hops it makes; timed
// until the last hop has run and the last line is out in the system log.
double timeWalk(QCoreApplication &application, const fs::path &root)
{
    const std::shared_ptr<XEngine> engine = XEngine::make(false, true, false, false, false);
    const Clock::time_point start = Clock::now();
    std::thread walker([&] {
        engine->cleanRecursively(URL::fileURLWithPath(root.string()));
        SystemLog::flush(SystemLog::waitLimit);
        MainThread::post([&application] { application.quit(); });
    });
    application.exec();
    const double seconds = secondsSince(start);
    walker.join();
    engine->removeFromActiveEngineList();
    return seconds;
}

// A walk in a process of its own, so that the memory it takes is its own: prints its seconds
// and its peak over what the process held before it.
int walkOnce(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    XTWStore::shared().load();
    // The log's first line sets up its file and date formats once for the process, as the
    // application's start-up does: the walk does not pay for it.
    Logger::shared().log("A walk begins.");
    malloc_trim(0);
    const long residentBefore = statusKiB("VmRSS:");
    resetPeakResident("self");
    const double seconds = timeWalk(application, argv[2]);
    std::printf("%f %ld\n", seconds, statusKiB("VmHWM:") - residentBefore);
    return 0;
}

struct Figures
{
    std::vector<double> seconds;
    long peakKiB = 0;
    bool sameSurvivors = true;
};

constexpr const char *findAllNames[] = {"-type", "f",  "(",     "-name",       ".DS_Store", "-o", "-name",
                                        "._*",   "-o", "-name", "Thumbs.db",   "-o",        "-name",
                                        "desktop.ini", "-o", "-name", "Desktop.ini", "-o", "-name", ".apdisk", "-o",
                                        "-name", "Icon\r", ")",     "-delete"};
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--walk")
        return walkOnce(argc, argv);
    const std::string trees = argc > 1 ? argv[1] : "abcd";
    const fs::path work = fs::path(argc > 2 ? argv[2] : "/tmp") / ("tarnwick-walk-bench-" + std::to_string(getpid()));
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 3);
    fs::create_directories(work / "home/runtime");
    fs::permissions(work / "home/runtime", fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(work / "runs");
    // This process, its walks and the application share one home: the record and
    // "logDeletions" set here are what they read.
    setenv("XDG_CACHE_HOME", (work / "home/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work / "home/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work / "home/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (work / "home/runtime").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCoreApplication application(argc, argv);
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    XTWStore::shared().load();
    addRecordWithEveryOption((work / "runs").string());
    // The application writes the same file; it is read afresh before each change made here.
    const auto setLogDeletions = [&defaults](bool on) {
        defaults.setFilePathForTesting(defaults.filePath());
        PreferencesSupport::registerBundleDefaults(defaults);
        defaults.setObject(Value(on), "logDeletions");
    };
    std::printf("the log goes to %s; median of %d rounds\n", (work / "home/cache").c_str(), rounds);

    // The idle application: started without paths, once its start-up work is over. A first
    // start also leaves the settings of an installed version behind, so that no later start
    // opens the main window as a first one does.
    long idleKiB = -1;
    if (std::any_of(trees.begin(), trees.end(), [](char tree) { return std::isupper(tree); })) {
        BenchApplication idle(TARNWICK_EXECUTABLE, work / "idle-errors.txt");
        if (idle.start({}) && idle.waitUntilStarted()) {
            idle.waitUntilIdle();
            idleKiB = idle.kib("VmRSS:");
        }
        idle.quit();
        std::printf("idle application: %ld KiB resident\n", idleKiB);
    }

    // What a walk may take against the all-names find.
    const std::map<char, double> walkTargets = {{'a', 1.0}, {'b', 0.7}, {'c', 1.5}, {'d', 1.5}, {'g', 1.5}};
    // The chains' walks, logging off: a walk's time grows with the depth alone.
    std::map<char, double> chainSeconds;
    std::vector<std::string> summary;
    const auto say = [&summary](const char *format, auto... values) {
        char line[300];
        std::snprintf(line, sizeof line, format, values...);
        summary.push_back(line);
    };
    int copies = 0;
    for (const char mode : trees) {
        const char tree = char(std::tolower(mode));
        const bool wholeRun = std::isupper(mode);
        // A million entries are built afresh for each contestant: a master beside a copy would
        // take twice the file system's entries.
        const bool million = tree == 'e' || tree == 'f';
        const fs::path master = work / (std::string("master-") + tree);
        const fs::path runs = work / "runs";
        std::printf("building tree %c...\n", tree);
        std::fflush(stdout);
        std::size_t entries = 0;
        if (!million) {
            build(tree, master);
            entries = entryCount(master);
        }
        // Warm and written out, as for every contestant, so that the journal's writeback of the
        // copy does not land on whoever runs next.
        const auto freshCopy = [&] {
            const fs::path copy = runs / ("copy-" + std::to_string(++copies));
            if (million)
                build(tree, copy);
            else
                runProgram({"cp", "-a", master.string(), copy.string()});
            entries = entryCount(copy);
            sync();
            return copy;
        };
        const auto marker = [&] {
            const fs::path folder = runs / ("marker-" + std::to_string(++copies));
            fs::create_directory(folder);
            touch(folder / ".DS_Store");
            return folder;
        };

        // [logging][fresh start, handed over] for a whole run; [logging][0] for a walk.
        Figures figures[2][2];
        Figures dsFind, allFind;
        for (int round = 0; round < rounds; ++round) {
            std::set<std::string> left[2][2];
            for (int logging = 0; logging < 2; ++logging) {
                for (int handed = 0; handed < (wholeRun ? 2 : 1); ++handed) {
                    setLogDeletions(logging == 1);
                    const fs::path copy = freshCopy();
                    Figures &figure = figures[logging][handed];
                    if (!wholeRun) {
                        double seconds = -1;
                        long kib = -1;
                        // The deletion lines on standard error would time the terminal.
                        runProgram({"/proc/self/exe", "--walk", copy.string()}, "/dev/null", work / "walk.txt");
                        std::istringstream(readText(work / "walk.txt")) >> seconds >> kib;
                        figure.seconds.push_back(seconds);
                        figure.peakKiB = std::max(figure.peakKiB, kib);
                    } else {
                        const fs::path done = marker();
                        BenchApplication app(TARNWICK_EXECUTABLE, work / "app-errors.txt");
                        double seconds = -1;
                        if (handed == 0) {
                            const Clock::time_point start = Clock::now();
                            app.start({copy.string(), done.string()});
                            if (waitUntil([&] { return !fs::exists(done / ".DS_Store"); }, 3600s, 1ms))
                                seconds = secondsSince(start);
                        } else if (app.start({}) && app.waitUntilStarted()) {
                            app.waitUntilIdle();
                            app.resetPeak();
                            const Clock::time_point start = Clock::now();
                            runProgram({TARNWICK_EXECUTABLE, copy.string(), done.string()},
                                       work / "handing-errors.txt");
                            if (waitUntil([&] { return !fs::exists(done / ".DS_Store"); }, 3600s, 1ms))
                                seconds = secondsSince(start);
                        }
                        figure.seconds.push_back(seconds);
                        figure.peakKiB = std::max(figure.peakKiB, app.kib("VmHWM:") - idleKiB);
                        app.quit();
                        fs::remove_all(done);
                    }
                    if (!million)
                        left[logging][handed] = survivors(copy);
                    fs::remove_all(copy);
                }
            }
            if (million && !wholeRun)
                continue;

            if (!million) {
                const fs::path dsOnly = freshCopy();
                const Clock::time_point start = Clock::now();
                dsFind.peakKiB = std::max(dsFind.peakKiB, runMeasured({"find", dsOnly.string(), "-name", ".DS_Store",
                                                                       "-delete"}, work / "time.txt"));
                dsFind.seconds.push_back(secondsSince(start));
                fs::remove_all(dsOnly);
            }

            const fs::path allNames = freshCopy();
            std::vector<std::string> findArguments{"find", allNames.string()};
            findArguments.insert(findArguments.end(), std::begin(findAllNames), std::end(findAllNames));
            const Clock::time_point start = Clock::now();
            allFind.peakKiB = std::max(allFind.peakKiB, runMeasured(findArguments, work / "time.txt"));
            allFind.seconds.push_back(secondsSince(start));
            if (!million) {
                const std::set<std::string> found = survivors(allNames);
                for (int logging = 0; logging < 2; ++logging) {
                    for (int handed = 0; handed < (wholeRun ? 2 : 1); ++handed)
                        figures[logging][handed].sameSurvivors &= left[logging][handed] == found;
                }
            }
            fs::remove_all(allNames);
        }
        fs::remove_all(master);

        const double all = median(allFind.seconds);
        std::printf("tree %c, %zu entries; find .DS_Store only %.3f s (%ld KiB), all names %.3f s (%ld KiB)\n", tree,
                    entries, median(dsFind.seconds), dsFind.peakKiB, all, allFind.peakKiB);
        for (int logging = 0; logging < 2; ++logging) {
            const char *log = logging ? "on" : "off";
            for (int handed = 0; handed < (wholeRun ? 2 : 1); ++handed) {
                const Figures &figure = figures[logging][handed];
                const double seconds = median(figure.seconds);
                const char *what = !wholeRun ? "walk" : handed ? "handed to an instance" : "started fresh";
                std::printf("  %-22s logDeletions %-3s %8.3f s %9.0f entries/s  peak +%ld KiB  %s\n", what, log,
                            seconds, entries / seconds, figure.peakKiB,
                            million ? "" : figure.sameSurvivors ? "same survivors as find" : "SURVIVORS DIFFER");
                if (!wholeRun && !million) {
                    say("tree %c walk, logDeletions %-3s: walk / all-names find ratio %.2f (target %.1f)", tree, log,
                        seconds / all, tree == 'a' && logging ? 1.2 : walkTargets.at(tree));
                    say("tree %c walk, logDeletions %-3s: walk peak %.1f MB over the process%s", tree, log,
                        figure.peakKiB / 1024.0,
                        tree == 'd' ? " (target 5 MiB)" : tree == 'g' ? " (target 2 MiB)" : "");
                    if ((tree == 'd' || tree == 'g') && !logging)
                        chainSeconds[tree] = seconds;
                    if (tree == 'g' && !logging && chainSeconds.contains('d'))
                        say("chain 2,000 deep / 1,000 deep walk time ratio %.2f (linear: 2.0)",
                            seconds / chainSeconds.at('d'));
                } else if (!wholeRun) {
                    say("tree %c walk, logDeletions %-3s: walk peak %.1f MB over the process, %.2f s", tree, log,
                        figure.peakKiB / 1024.0, seconds);
                } else {
                    say("tree %c whole run %s, logDeletions %-3s: run / all-names find ratio %.2f%s", tree,
                        handed ? "handed over" : "started fresh", log, seconds / all,
                        tree == 'a' && logging ? " (target 1.3)" : "");
                    say("tree %c whole run %s, logDeletions %-3s: peak %.1f MB above the idle application%s", tree,
                        handed ? "handed over" : "started fresh", log, figure.peakKiB / 1024.0,
                        million ? " (target 45 MB)" : "");
                }
            }
        }
        std::fflush(stdout);
    }
    for (const std::string &line : summary)
        std::printf("%s\n", line.c_str());
    fs::remove_all(work);
    return 0;
}
