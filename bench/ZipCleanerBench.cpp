// Times ZipCleaner against the tool a user would otherwise pick, `zip -d` followed by `sync -f`
// (zip leaves its result in the page cache; ZipCleaner makes its result durable), on identical
// copies of three archives, and checks that both leave archives that pass `unzip -t` with the
// same names. Every round works on fresh copies, written out with `sync` before anything is
// timed. ZipCleaner is timed inside `cleanZipAtURL`, the yardstick as the two processes.
// Run it on an ext4 file system mounted nodiscard.
//
// Usage: ZipCleanerBench [large-archive-MiB (default 1024; 0 leaves it out)] [work folder (default /tmp)]
//                        [rounds (default 5)]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
}

int main(int argc, char **argv)
{
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
