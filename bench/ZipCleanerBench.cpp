// Times ZipCleaner against the tool a user would otherwise pick, `zip -d` followed by `sync -f`
// (zip leaves its result in the page cache; ZipCleaner makes its result durable), on identical
// copies of three archives, and checks that both leave archives that pass `unzip -t` with the
// same names. Every round works on fresh copies, written out with `sync` before anything is
// timed. ZipCleaner is timed inside `cleanZipAtURL`, the yardstick as the two processes.
// Run it on an ext4 file system mounted nodiscard.
//
// With --application it times the real executable instead, on the Archive Utility export:
// `tarnwick ARCHIVE MARKER` started fresh, and the same handed to a running instance (started
// beforehand and idle), each from its start until MARKER, a small archive cleaned right after
// ARCHIVE, has been rewritten; and, as the time from exec to the first deletion, `tarnwick
// FOLDER` for a folder holding one ".DS_Store", until it is gone. Every run has a home (XDG
// folders) of its own, copied from one that an application started once has left behind, so
// that no run is the first start of a new installation. The contestants take turns, a
// different one first in each round; medians are printed, the archive's against the yardstick
// pair by pair, with the machine's load before and after.
//
// Usage: ZipCleanerBench [large-archive-MiB (default 1024; 0 leaves it out)] [work folder (default /tmp)]
//                        [rounds (default 5)]
//        ZipCleanerBench --application [work folder (default /tmp)] [rounds (default 5)]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchApplication.h"
#include "BenchSupport.h"
#include "ZZArchive.h"
#include "ZZOutputStream.h"
#include "ZipCleaner.h"

extern char **environ;

namespace
{
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string quoted(const std::string &text)
{
    return "'" + text + "'";
}

std::string commandOutput(const std::string &command)
{
    std::string output;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, count);
        ::pclose(pipe);
    }
    return output;
}

// Runs a program without a shell, its output thrown away; true when it exits with 0.
bool run(std::vector<std::string> arguments)
{
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::shared_ptr<ZZArchiveEntry> dataEntry(const std::string &name, Data data, bool compress)
{
    return ZZArchiveEntry::archiveEntryWithFileName(
        name, compress, ZZArchiveEntry::DataBlock([data = std::move(data)](Error *) { return data; }));
}

std::shared_ptr<ZZArchiveEntry> randomEntry(const std::string &name, std::uint64_t size, std::uint32_t seed,
                                            bool compress)
{
    return ZZArchiveEntry::archiveEntryWithFileName(
        name, compress, ZZArchiveEntry::StreamBlock([size, seed, compress](ZZOutputStream &stream, Error *) {
            std::mt19937 random(seed);
            std::vector<std::uint8_t> chunk(1 << 20);
            for (std::uint64_t done = 0; done < size;) {
                const std::uint64_t length = std::min<std::uint64_t>(chunk.size(), size - done);
                for (std::uint64_t i = 0; i < length; ++i)
                    // Compressible entries draw from a small alphabet, like text.
                    chunk[i] = compress ? static_cast<std::uint8_t>('a' + random() % 16)
                                        : static_cast<std::uint8_t>(random());
                for (std::uint64_t at = 0; at < length;) {
                    const std::int64_t written = stream.write(chunk.data() + at, length - at);
                    if (written < 0)
                        return false;
                    at += static_cast<std::uint64_t>(written);
                }
                done += length;
            }
            return true;
        }));
}

bool writeArchive(const std::string &path, const std::vector<std::shared_ptr<ZZArchiveEntry>> &entries)
{
    std::filesystem::remove(path);
    Error error;
    auto archive = ZZArchive::initWithURL(path, {{ZZOpenOptionsCreateIfMissingKey, Value(true)}}, &error);
    if (!archive || !archive->updateEntries(entries, &error)) {
        std::fprintf(stderr, "could not build %s: %s\n", path.c_str(), error.localizedDescription().c_str());
        return false;
    }
    return true;
}

// (a) many small entries with metadata interleaved.
std::vector<std::shared_ptr<ZZArchiveEntry>> manySmallEntries()
{
    std::mt19937 random(20261208);
    std::vector<std::shared_ptr<ZZArchiveEntry>> entries;
    for (int i = 0; entries.size() < 20000; ++i) {
        const std::string folder = "folder" + std::to_string(i / 50) + "/";
        const std::string name = "file" + std::to_string(i) + ".txt";
        entries.push_back(randomEntry(folder + name, 200 + random() % 4000, random(), true));
        if (i % 3 == 0)
            entries.push_back(randomEntry("__MACOSX/" + folder + "._" + name, 4096, random(), true));
        if (i % 7 == 0)
            entries.push_back(randomEntry(folder + "._" + name, 120, random(), false));
        if (i % 50 == 0)
            entries.push_back(randomEntry(folder + ".DS_Store", 6148, random(), true));
    }
    return entries;
}

// Text of the given length: words of random letters, as compressible as prose with figures.
Data proseText(std::mt19937 &random, std::size_t length)
{
    Data text;
    text.reserve(length + 16);
    while (text.size() < length) {
        for (std::uint32_t letters = 2 + random() % 8; letters > 0; --letters)
            text.push_back(static_cast<std::uint8_t>('a' + random() % 26));
        text.push_back(random() % 12 == 0 ? '\n' : ' ');
    }
    text.resize(length);
    return text;
}

// An AppleDouble companion as a Mac writes one: 4,096 bytes, Finder info, an attribute area
// holding a quarantine value, and the empty resource fork's placeholder; mostly zeros.
Data appleDoubleCompanion(std::mt19937 &random)
{
    Data bytes(4096, 0);
    const std::uint8_t header[] = {0x00, 0x05, 0x16, 0x07, 0x00, 0x02, 0x00, 0x00};
    std::copy(std::begin(header), std::end(header), bytes.begin());
    const std::string mac = "Mac OS X        ";
    std::copy(mac.begin(), mac.end(), bytes.begin() + 8);
    const std::string attributes = "ATTR";
    std::copy(attributes.begin(), attributes.end(), bytes.begin() + 0x54);
    std::string quarantine = "com.apple.quarantine";
    std::copy(quarantine.begin(), quarantine.end(), bytes.begin() + 0x90);
    const std::string value = "0083;" + std::to_string(0x60000000 + random() % 0x1000000) + ";Safari;"
        + std::to_string(random());
    std::copy(value.begin(), value.end(), bytes.begin() + 0x120);
    const std::string blank = "This resource fork intentionally left blank   ";
    std::copy(blank.begin(), blank.end(), bytes.begin() + 0xEE2 + 0x20);
    return bytes;
}

// A folder's ".DS_Store" of 6,148 bytes: a buddy allocator header, records naming the
// folder's files, and zeros.
Data desktopServicesStore(std::mt19937 &random, int firstFile, int files)
{
    Data bytes(6148, 0);
    const std::uint8_t header[] = {0x00, 0x00, 0x00, 0x01, 'B', 'u', 'd', '1'};
    std::copy(std::begin(header), std::end(header), bytes.begin());
    std::size_t at = 0x1000;
    for (int file = firstFile; file < firstFile + files && at + 64 < bytes.size(); ++file) {
        const std::string record = "file" + std::to_string(file) + ".txtIlocblob" + std::to_string(random() % 1000);
        std::copy(record.begin(), record.end(), bytes.begin() + static_cast<long>(at));
        at += record.size() + 8;
    }
    return bytes;
}

// (b) the shape of a folder exported by the Mac's Archive Utility: 20,000 entries, folders of
// 50 text files of 0.2-4 KB, each folder's ".DS_Store" first, every third file followed by its
// "__MACOSX/" companion. The first entry goes, so nearly every byte moves.
std::vector<std::shared_ptr<ZZArchiveEntry>> archiveUtilityExport()
{
    std::mt19937 random(20260322);
    std::vector<std::shared_ptr<ZZArchiveEntry>> entries;
    for (int i = 0; entries.size() < 20000; ++i) {
        const std::string folder = "Project/Folder " + std::to_string(i / 50) + "/";
        const std::string name = "file" + std::to_string(i) + ".txt";
        if (i % 50 == 0)
            entries.push_back(dataEntry(folder + ".DS_Store", desktopServicesStore(random, i, 50), true));
        entries.push_back(dataEntry(folder + name, proseText(random, 200 + random() % 3900), true));
        if (i % 3 == 0 && entries.size() < 20000)
            entries.push_back(dataEntry("__MACOSX/" + folder + "._" + name, appleDoubleCompanion(random), true));
    }
    return entries;
}

// (c) a few large entries, metadata at the start.
std::vector<std::shared_ptr<ZZArchiveEntry>> fewLargeEntries(std::uint64_t totalBytes)
{
    std::vector<std::shared_ptr<ZZArchiveEntry>> entries = {
        randomEntry("__MACOSX/", 0, 1, false),
        randomEntry("__MACOSX/media/._movie0.mov", 4096, 2, false),
        randomEntry("media/.DS_Store", 6148, 3, true),
    };
    const int count = 4;
    for (int i = 0; i < count; ++i)
        entries.push_back(randomEntry("media/movie" + std::to_string(i) + ".mov", totalBytes / count, 100 + i, false));
    return entries;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Outcome
{
    double ratio = 0;
    bool agree = false;
};

Outcome compare(const std::string &label, const std::string &source, const std::string &work, int rounds)
{
    const std::string cleanerCopy = work + "/cleaner-copy.zip";
    const std::string zipCopy = work + "/zip-copy.zip";
    std::vector<double> cleanerSeconds;
    std::vector<double> yardstickSeconds;
    std::vector<double> ratios;
    std::int64_t count = 0;
    Outcome outcome;
    outcome.agree = true;
    // Each contestant gets a fresh copy, written out before its clock starts.
    const auto freshCopy = [&source](const std::string &copy) {
        std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
        run({"sync"});
    };
    const auto timeCleaner = [&] {
        freshCopy(cleanerCopy);
        const auto start = Clock::now();
        std::vector<std::string> removed;
        Error error;
        count = ZipCleaner().cleanZipAtURL(cleanerCopy, &removed, &error);
        cleanerSeconds.push_back(secondsSince(start));
        if (!error.domain().empty()) {
            std::fprintf(stderr, "ZipCleaner failed: %s\n", error.localizedDescription().c_str());
            outcome.agree = false;
        }
    };
    const auto timeYardstick = [&] {
        freshCopy(zipCopy);
        const auto start = Clock::now();
        const bool zipped = run({"zip", "-q", "-d", zipCopy, "__MACOSX/*", "*/._*", "*.DS_Store"})
            && run({"sync", "-f", zipCopy});
        yardstickSeconds.push_back(secondsSince(start));
        outcome.agree = outcome.agree && zipped;
    };
    for (int round = 0; round < rounds; ++round) {
        // Turn about, so that neither always runs on a file system the other has just written to.
        if (round % 2 == 0) {
            timeCleaner();
            timeYardstick();
        } else {
            timeYardstick();
            timeCleaner();
        }
        ratios.push_back(cleanerSeconds.back() / yardstickSeconds.back());

        if (round == 0) {
            const bool cleanerTests = run({"unzip", "-tqq", cleanerCopy});
            const bool zipTests = run({"unzip", "-tqq", zipCopy});
            const bool sameNames = commandOutput("unzip -Z1 " + quoted(cleanerCopy))
                == commandOutput("unzip -Z1 " + quoted(zipCopy));
            std::printf("  unzip -t: ZipCleaner %s, zip -d %s; same names: %s\n", cleanerTests ? "ok" : "FAILED",
                        zipTests ? "ok" : "FAILED", sameNames ? "yes" : "NO");
            outcome.agree = outcome.agree && cleanerTests && zipTests && sameNames;
        }
    }
    outcome.ratio = median(ratios);
    std::printf("%s: %lld entries removed, source %llu bytes, %d rounds (medians)\n", label.c_str(),
                static_cast<long long>(count), static_cast<unsigned long long>(std::filesystem::file_size(source)),
                rounds);
    std::printf("  ZipCleaner (inside cleanZipAtURL)  %9.4f s (min %.4f)\n", median(cleanerSeconds),
                *std::min_element(cleanerSeconds.begin(), cleanerSeconds.end()));
    std::printf("  zip -d + sync -f                   %9.4f s (min %.4f)\n", median(yardstickSeconds),
                *std::min_element(yardstickSeconds.begin(), yardstickSeconds.end()));
    std::printf("  ratio ZipCleaner / (zip -d + sync -f): %.2f\n\n", outcome.ratio);
    std::filesystem::remove(cleanerCopy);
    std::filesystem::remove(zipCopy);
    return outcome;
}

// --- The application mode

namespace fs = std::filesystem;

std::string loadAverage()
{
    const std::string text = BenchSupport::readText("/proc/loadavg");
    return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

// The file's inode, 0 while it is missing: a rewrite puts a new file in the archive's place.
ino_t inodeOf(const fs::path &path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// The XDG folders of a run; the environment names them, so that what is spawned uses them.
void useHome(const fs::path &home)
{
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
}

class ApplicationRuns
{
public:
    ApplicationRuns(fs::path work, std::string archive, std::string marker)
        : m_work(std::move(work)), m_archive(std::move(archive)), m_marker(std::move(marker))
    {
    }

    // Starts the application once in the template home and lets it settle: the settings of an
    // installed version are left behind, so that later starts are not a new installation's.
    bool prepareTemplateHome()
    {
        useHome(m_work / "home-template");
        BenchApplication application(TARNWICK_EXECUTABLE, m_work / "template-errors.txt");
        if (!application.start({}) || !application.waitUntilStarted())
            return false;
        application.waitUntilIdle();
        application.quit();
        return true;
    }

    // The seconds until the marker archive has been rewritten, -1 when it never was; the
    // archive's copy is left for checking.
    double archive(bool handedOver, const std::string &copy)
    {
        const std::string markerCopy = m_work / "marker-copy.zip";
        fs::copy_file(m_archive, copy, fs::copy_options::overwrite_existing);
        fs::copy_file(m_marker, markerCopy, fs::copy_options::overwrite_existing);
        return timeApplication(handedOver, {copy, markerCopy}, [markerCopy, before = inodeOf(markerCopy)] {
            const ino_t now = inodeOf(markerCopy);
            return now != 0 && now != before;
        });
    }

    // The seconds from exec until a folder's one ".DS_Store" is gone.
    double firstDeletion(bool handedOver)
    {
        const fs::path folder = m_work / ("folder-" + std::to_string(++m_runs));
        fs::create_directories(folder);
        std::FILE *file = std::fopen((folder / ".DS_Store").c_str(), "w");
        if (!file)
            return -1;
        std::fputs("Bud1", file);
        std::fclose(file);
        const double seconds = timeApplication(handedOver, {folder.string()},
                                               [folder] { return !fs::exists(folder / ".DS_Store"); });
        fs::remove_all(folder);
        return seconds;
    }

private:
    double timeApplication(bool handedOver, const std::vector<std::string> &paths, const std::function<bool()> &done)
    {
        using namespace std::chrono_literals;
        const fs::path home = m_work / ("home-" + std::to_string(++m_runs));
        fs::remove_all(home);
        run({"cp", "-a", (m_work / "home-template").string(), home.string()});
        useHome(home);
        run({"sync"});
        BenchApplication application(TARNWICK_EXECUTABLE, m_work / "application-errors.txt");
        double seconds = -1;
        if (!handedOver) {
            const auto start = Clock::now();
            if (application.start(paths) && BenchSupport::waitUntil(done, 600s, 200us))
                seconds = secondsSince(start);
        } else if (application.start({}) && application.waitUntilStarted()) {
            application.waitUntilIdle();
            std::vector<std::string> handing{TARNWICK_EXECUTABLE};
            handing.insert(handing.end(), paths.begin(), paths.end());
            const auto start = Clock::now();
            if (run(handing) && BenchSupport::waitUntil(done, 600s, 200us))
                seconds = secondsSince(start);
        }
        application.quit();
        fs::remove_all(home);
        return seconds;
    }

    fs::path m_work;
    std::string m_archive;
    std::string m_marker;
    int m_runs = 0;
};

int applicationMode(const std::string &work, int rounds)
{
    const std::string source = work + "/archive-utility.zip";
    const std::string marker = work + "/marker.zip";
    if (!writeArchive(source, archiveUtilityExport())
        || !writeArchive(marker, {dataEntry(".DS_Store", Data(6148, 0), true), dataEntry("a.txt", Data(3, 'a'), true)}))
        return 1;
    // The offscreen platform unless another was asked for: the windows are made, never seen.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ApplicationRuns runs(work, source, marker);
    if (!runs.prepareTemplateHome()) {
        std::fprintf(stderr, "the application did not start\n");
        return 1;
    }
    std::printf("load average before: %s\n", loadAverage().c_str());

    const std::string zipCopy = work + "/zip-copy.zip";
    const std::string applicationCopy = work + "/application-copy.zip";
    enum Contestant { yardstick, archiveFresh, archiveHanded, deletionFresh, deletionHanded, contestants };
    const char *names[contestants] = {"zip -d + sync -f", "tarnwick ARCHIVE MARKER, started fresh",
                                      "tarnwick ARCHIVE MARKER, handed over", "exec to first deletion, started fresh",
                                      "exec to first deletion, handed over"};
    std::vector<double> seconds[contestants];
    std::vector<double> freshRatios, handedRatios;
    bool agree = true;
    for (int round = 0; round < rounds; ++round) {
        double figure[contestants] = {};
        for (int turn = 0; turn < contestants; ++turn) {
            const int contestant = (round + turn) % contestants;
            switch (contestant) {
            case yardstick: {
                std::filesystem::copy_file(source, zipCopy, std::filesystem::copy_options::overwrite_existing);
                run({"sync"});
                const auto start = Clock::now();
                const bool zipped = run({"zip", "-q", "-d", zipCopy, "__MACOSX/*", "*/._*", "*.DS_Store"})
                    && run({"sync", "-f", zipCopy});
                figure[contestant] = zipped ? secondsSince(start) : -1;
                break;
            }
            case archiveFresh:
            case archiveHanded:
                figure[contestant] = runs.archive(contestant == archiveHanded, applicationCopy);
                if (round == 0 && contestant == archiveHanded) {
                    const bool tests = run({"unzip", "-tqq", applicationCopy});
                    const bool sameNames = commandOutput("unzip -Z1 " + quoted(applicationCopy))
                        == commandOutput("unzip -Z1 " + quoted(source) + " | grep -v -e '^__MACOSX/' -e '/\\._' "
                                                                         "-e '\\.DS_Store$'");
                    std::printf("  the application's archive: unzip -t %s, names as expected: %s\n",
                                tests ? "ok" : "FAILED", sameNames ? "yes" : "NO");
                    agree = agree && tests && sameNames;
                }
                break;
            case deletionFresh:
            case deletionHanded:
                figure[contestant] = runs.firstDeletion(contestant == deletionHanded);
                break;
            }
            agree = agree && figure[contestant] > 0;
        }
        for (int contestant = 0; contestant < contestants; ++contestant)
            seconds[contestant].push_back(figure[contestant]);
        freshRatios.push_back(figure[archiveFresh] / figure[yardstick]);
        handedRatios.push_back(figure[archiveHanded] / figure[yardstick]);
    }
    std::filesystem::remove(zipCopy);
    std::filesystem::remove(applicationCopy);
    std::filesystem::remove(source);
    std::filesystem::remove(marker);
    std::printf("load average after: %s\n", loadAverage().c_str());

    std::printf("(b) Archive Utility export through the application, %d rounds (medians, min-max)\n", rounds);
    for (int contestant = 0; contestant < contestants; ++contestant) {
        const auto [least, most] = std::minmax_element(seconds[contestant].begin(), seconds[contestant].end());
        std::printf("  %-40s %9.4f s (%.4f-%.4f)\n", names[contestant], median(seconds[contestant]), *least, *most);
    }
    std::printf("  ratio started fresh / (zip -d + sync -f): %.2f (target 1.0)\n", median(freshRatios));
    std::printf("  ratio handed over / (zip -d + sync -f): %.2f (target 0.8)\n", median(handedRatios));
    std::printf("results agree: %s\n", agree ? "yes" : "NO");
    return agree ? 0 : 1;
}
}

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--application") {
        const std::string work = std::string(argc > 2 ? argv[2] : "/tmp") + "/ZipCleanerBench." + std::to_string(::getpid());
        const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
        std::filesystem::create_directories(work);
        const int status = applicationMode(work, rounds);
        std::filesystem::remove_all(work);
        return status;
    }
    const std::uint64_t largeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string base = argc > 2 ? argv[2] : "/tmp";
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::string work = base + "/ZipCleanerBench." + std::to_string(::getpid());
    std::filesystem::create_directories(work);

    struct Shape
    {
        std::string label;
        std::string path;
        std::vector<std::shared_ptr<ZZArchiveEntry>> entries;
    };
    std::vector<Shape> shapes;
    shapes.push_back({"(a) 20,000 small entries, metadata interleaved", work + "/many-small.zip", manySmallEntries()});
    shapes.push_back({"(b) Archive Utility export, 20,000 entries", work + "/archive-utility.zip", archiveUtilityExport()});
    if (largeMiB > 0)
        shapes.push_back({"(c) " + std::to_string(largeMiB) + " MiB in four large entries", work + "/few-large.zip",
                          fewLargeEntries(largeMiB << 20)});
    for (Shape &shape : shapes) {
        const auto start = Clock::now();
        if (!writeArchive(shape.path, shape.entries))
            return 1;
        shape.entries.clear();
        std::printf("built %s in %.1f s\n", shape.path.c_str(), secondsSince(start));
    }
    std::printf("\n");

    bool agree = true;
    for (const Shape &shape : shapes) {
        agree = compare(shape.label, shape.path, work, rounds).agree && agree;
        std::filesystem::remove(shape.path);
    }
    std::filesystem::remove(work);
    std::printf("results agree: %s\n", agree ? "yes" : "NO");
    return agree ? 0 : 1;
}
