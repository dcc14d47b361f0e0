// Times the engine's walk of a folder tree, with every deletion option on, against
// `find T -name .DS_Store -delete` and against a find that deletes every fixed metadata name,
// each on a fresh copy of the same tree, and checks that the walk and the all-names find
// leave the same files.
//
// Trees, built with a fixed seed:
//   a  10,000 folders with about 10 files each; 5% of folders hold ".DS_Store", 5% of files a "._" companion
//   b  the same shape with nothing to delete
//   c  one folder of 100,000 entries, 5% of them "._" companions
//   d  a chain of folders 1,000 deep with short names, ".DS_Store" in 5% of them
//   e  one folder of 1,000,000 entries, 5% of them "._" companions (not run by default): only the
//      walk's memory is measured, on a tree built afresh for each walk, with no find to time
//
// The walk runs twice, with "logDeletions" off and on. Each contestant runs in turn for a
// number of rounds, on a fresh copy each time; the medians are printed, and each walk's ratio
// to the all-names find on a line with the word "ratio", beside its target.
//
// Usage: EngineWalkBench [trees (default abcd)] [work folder (default /tmp)] [rounds (default 3)]

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"
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

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void touch(const fs::path &path)
{
    std::ofstream(path) << "x";
}

struct Tree
{
    char name;
    std::string description;
};

// Folder i hangs below a folder chosen among the ones made before it.
void buildSpread(const fs::path &root, bool withMetadata)
{
    std::mt19937 random(20261208);
    std::vector<fs::path> folders{root};
    for (int index = 1; index <= 10000; ++index) {
        const fs::path parent = folders[random() % folders.size()];
        std::string name = "f";
        name += std::to_string(index);
        folders.push_back(parent / name);
        fs::create_directory(folders.back());
    }
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

void buildWide(const fs::path &root, int entries)
{
    std::mt19937 random(20261208);
    for (int index = 0; index < entries;) {
        const std::string name = "item" + std::to_string(index);
        touch(root / name);
        ++index;
        if (random() % 100 < 5 && index < entries) {
            touch(root / ("._" + name));
            ++index;
        }
    }
    touch(root / ".DS_Store");
}

void buildChain(const fs::path &root)
{
    std::mt19937 random(20261208);
    fs::path folder = root;
    for (int depth = 0; depth < 1000; ++depth) {
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
        buildWide(root, 100000);
        break;
    case 'e':
        buildWide(root, 1000000);
        break;
    case 'd':
        buildChain(root);
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

void resetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A record for the work folder with every deletion option on and no attribute kept, so
// that "._" files go whole, as the all-names find deletes them.
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
}

int main(int argc, char **argv)
{
    const std::string trees = argc > 1 ? argv[1] : "abcd";
    const fs::path work = fs::path(argc > 2 ? argv[2] : "/tmp") / ("tarnwick-walk-bench-" + std::to_string(getpid()));
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 3);
    fs::create_directories(work / "home");
    fs::create_directories(work / "runs");
    setenv("XDG_CACHE_HOME", (work / "home/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work / "home/config").c_str(), 1);
    QCoreApplication application(argc, argv);
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setFilePathForTesting((work / "home/defaults.plist").string());
    PreferencesSupport::registerBundleDefaults(defaults);
    XTWStore::shared().load();
    addRecordWithEveryOption((work / "runs").string());
    std::printf("the log goes to %s; median of %d rounds\n", (work / "home/cache").c_str(), rounds);

    // The deletion lines on standard error would time the terminal.
    const int savedError = dup(STDERR_FILENO);
    const auto quietError = [] {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(null);
    };
    const auto restoreError = [savedError] { dup2(savedError, STDERR_FILENO); };

    std::printf("%-5s %9s | %-4s %10s %9s %9s | %10s %9s | %10s %9s | %8s %8s | %s\n", "tree", "entries", "log",
                "walk s", "entries/s", "+peak KiB", "find-ds s", "peak KiB", "find-all s", "peak KiB", "w/ds", "w/all",
                "same survivors");
    // What the walk may take against the all-names find, tree by tree.
    const std::map<char, double> targets = {{'a', 1.2}, {'b', 0.7}, {'c', 1.5}, {'d', 1.5}, {'e', 1.5}};
    std::vector<std::string> ratioLines;
    for (const char tree : trees) {
        const bool memoryOnly = tree == 'e';
        const fs::path master = work / (std::string("master-") + tree);
        if (!memoryOnly)
            build(tree, master);
        const fs::path runs = work / "runs";
        fs::create_directories(runs);
        const auto freshCopy = [&](const std::string &name) {
            const fs::path copy = runs / name;
            fs::remove_all(copy);
            if (memoryOnly)
                build(tree, copy);
            else
                runProgram({"cp", "-a", master.string(), copy.string()});
            // Warm the cache for the copy, as for every contestant, and write the copy out first:
            // the journal's writeback would otherwise land on whichever contestant runs next.
            entryCount(copy);
            sync();
            return copy;
        };

        // The contestants take turns, a fresh copy each, so that a busy moment of the machine
        // does not fall on one of them alone.
        std::vector<double> walkSeconds[2], dsSeconds, allSeconds;
        long walkPeak[2] = {0, 0}, dsPeak = 0, allPeak = 0;
        bool same[2] = {true, true};
        std::size_t entries = memoryOnly ? 0 : entryCount(master);
        for (int round = 0; round < rounds; ++round) {
            std::set<std::string> walkedSurvivors[2];
            for (int logging = 0; logging < 2; ++logging) {
                defaults.setObject(Value(logging == 1), "logDeletions");
                const fs::path walked = freshCopy(std::string("walk-") + tree);
                if (memoryOnly)
                    entries = entryCount(walked);
                // The walk's own growth over what the process held before it.
                const long residentBefore = statusKiB("VmRSS:");
                resetPeakResident();
                quietError();
                walkSeconds[logging].push_back(timeWalk(application, walked));
                restoreError();
                walkPeak[logging] = std::max(walkPeak[logging], statusKiB("VmHWM:") - residentBefore);
                if (!memoryOnly)
                    walkedSurvivors[logging] = survivors(walked);
                fs::remove_all(walked);
            }
            if (memoryOnly)
                continue;

            const fs::path dsOnly = freshCopy(std::string("find-ds-") + tree);
            Clock::time_point start = Clock::now();
            dsPeak = std::max(dsPeak, runMeasured({"find", dsOnly.string(), "-name", ".DS_Store", "-delete"},
                                                  work / "time.txt"));
            dsSeconds.push_back(secondsSince(start));

            const fs::path allNames = freshCopy(std::string("find-all-") + tree);
            start = Clock::now();
            allPeak = std::max(
                allPeak, runMeasured({"find", allNames.string(), "-type", "f", "(", "-name", ".DS_Store", "-o",
                                      "-name", "._*", "-o", "-name", "Thumbs.db", "-o", "-name", "desktop.ini", "-o",
                                      "-name", "Desktop.ini", "-o", "-name", ".apdisk", "-o", "-name", "Icon\r", ")",
                                      "-delete"},
                                     work / "time.txt"));
            allSeconds.push_back(secondsSince(start));

            const std::set<std::string> found = survivors(allNames);
            for (int logging = 0; logging < 2; ++logging)
                same[logging] = same[logging] && walkedSurvivors[logging] == found;
            fs::remove_all(dsOnly);
            fs::remove_all(allNames);
        }
        if (memoryOnly) {
            for (int logging = 0; logging < 2; ++logging) {
                std::printf("%-5c %9zu | %-4s %10.3f %9.0f %9ld | (memory only)\n", tree, entries,
                            logging ? "on" : "off", median(walkSeconds[logging]),
                            entries / median(walkSeconds[logging]), walkPeak[logging]);
                char line[200];
                std::snprintf(line, sizeof line, "tree e, logDeletions %-3s: walk peak %ld KiB over the process "
                              "(target under 50 MB; memory only, not timed against find)", logging ? "on" : "off",
                              walkPeak[logging]);
                ratioLines.push_back(line);
            }
            std::fflush(stdout);
            continue;
        }
        const double ds = median(dsSeconds);
        const double all = median(allSeconds);
        for (int logging = 0; logging < 2; ++logging) {
            const double walk = median(walkSeconds[logging]);
            std::printf("%-5c %9zu | %-4s %10.3f %9.0f %9ld | %10.3f %9ld | %10.3f %9ld | %8.2f %8.2f | %s\n", tree,
                        entries, logging ? "on" : "off", walk, entries / walk, walkPeak[logging], ds, dsPeak, all,
                        allPeak, walk / ds, walk / all, same[logging] ? "yes" : "NO");
            char line[200];
            std::snprintf(line, sizeof line, "tree %c, logDeletions %-3s: walk / all-names find ratio %.2f (target %.1f), "
                          "walk peak %ld KiB over the process", tree, logging ? "on" : "off", walk / all,
                          targets.at(tree), walkPeak[logging]);
            ratioLines.push_back(line);
        }
        std::fflush(stdout);
        fs::remove_all(master);
    }
    for (const std::string &line : ratioLines)
        std::printf("%s\n", line.c_str());
    fs::remove_all(work);
    return 0;
}
