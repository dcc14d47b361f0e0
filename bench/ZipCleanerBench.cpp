// Times ZipCleaner against `zip -d` on the same archives and checks that both
// leave archives that pass `unzip -t` with the same names.
//
// Usage: ZipCleanerBench [large-archive-MiB (default 1024)] [work folder (default /tmp)]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "ZZArchive.h"
#include "ZZOutputStream.h"
#include "ZipCleaner.h"

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

// Bytes this process has written so far, in-kernel copies included.
long long bytesWrittenBySelf()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:")
            return value;
    }
    return -1;
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

// (b) a few large entries, metadata at the start.
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

struct Outcome
{
    double cleanerSeconds = 0;
    double zipSeconds = 0;
    bool agree = false;
};

Outcome compare(const std::string &label, const std::string &source, const std::string &work)
{
    const std::string cleanerCopy = work + "/cleaner-copy.zip";
    const std::string zipCopy = work + "/zip-copy.zip";
    std::filesystem::copy_file(source, cleanerCopy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(source, zipCopy, std::filesystem::copy_options::overwrite_existing);
    std::system("sync");

    Outcome outcome;
    const long long writtenBefore = bytesWrittenBySelf();
    auto start = Clock::now();
    std::vector<std::string> removed;
    Error error;
    const std::int64_t count = ZipCleaner().cleanZipAtURL(cleanerCopy, &removed, &error);
    outcome.cleanerSeconds = secondsSince(start);
    const long long cleanerWrites = bytesWrittenBySelf() - writtenBefore;
    if (!error.domain().empty())
        std::fprintf(stderr, "ZipCleaner failed: %s\n", error.localizedDescription().c_str());

    start = Clock::now();
    const int zipStatus = std::system(("zip -q -d " + quoted(zipCopy) + " '__MACOSX/*' '*/._*' '*.DS_Store'").c_str());
    outcome.zipSeconds = secondsSince(start);
    // zip leaves its result in the page cache; ZipCleaner syncs before it renames. Time the sync zip skips.
    start = Clock::now();
    const int zipResult = ::open(zipCopy.c_str(), O_RDONLY | O_CLOEXEC);
    if (zipResult >= 0) {
        ::fsync(zipResult);
        ::close(zipResult);
    }
    const double zipSyncSeconds = secondsSince(start);

    const bool cleanerTests = std::system(("unzip -tqq " + quoted(cleanerCopy)).c_str()) == 0;
    const bool zipTests = std::system(("unzip -tqq " + quoted(zipCopy)).c_str()) == 0;
    const bool sameNames = commandOutput("unzip -Z1 " + quoted(cleanerCopy)) == commandOutput("unzip -Z1 " + quoted(zipCopy));
    outcome.agree = cleanerTests && zipTests && sameNames && zipStatus == 0;

    std::printf("%s: %s, %lld entries removed\n", label.c_str(), source.c_str(), static_cast<long long>(count));
    std::printf("  source size           %12llu bytes\n",
                static_cast<unsigned long long>(std::filesystem::file_size(source)));
    std::printf("  ZipCleaner            %9.3f s, result %llu bytes, %lld bytes written\n",
                outcome.cleanerSeconds, static_cast<unsigned long long>(std::filesystem::file_size(cleanerCopy)),
                cleanerWrites);
    std::printf("  zip -d                %9.3f s, result %llu bytes\n", outcome.zipSeconds,
                static_cast<unsigned long long>(std::filesystem::file_size(zipCopy)));
    std::printf("  zip -d / ZipCleaner   %9.2f x\n", outcome.zipSeconds / outcome.cleanerSeconds);
    std::printf("  zip -d + fsync        %9.3f s (%.2f x ZipCleaner, which syncs its result)\n",
                outcome.zipSeconds + zipSyncSeconds, (outcome.zipSeconds + zipSyncSeconds) / outcome.cleanerSeconds);
    std::printf("  unzip -t: ZipCleaner %s, zip -d %s; same names: %s\n", cleanerTests ? "ok" : "FAILED",
                zipTests ? "ok" : "FAILED", sameNames ? "yes" : "NO");

    // A second clean finds nothing to remove and writes nothing.
    start = Clock::now();
    const std::int64_t again = ZipCleaner().cleanZipAtURL(cleanerCopy, nullptr, &error);
    std::printf("  second ZipCleaner run %9.3f s, %lld removed\n", secondsSince(start), static_cast<long long>(again));
    std::filesystem::remove(cleanerCopy);
    std::filesystem::remove(zipCopy);
    return outcome;
}
}

int main(int argc, char **argv)
{
    const std::uint64_t largeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string base = argc > 2 ? argv[2] : "/tmp";
    const std::string work = base + "/ZipCleanerBench." + std::to_string(::getpid());
    std::filesystem::create_directories(work);

    auto start = Clock::now();
    const std::string small = work + "/many-small.zip";
    if (!writeArchive(small, manySmallEntries()))
        return 1;
    std::printf("built %s in %.1f s\n", small.c_str(), secondsSince(start));
    start = Clock::now();
    const std::string large = work + "/few-large.zip";
    if (!writeArchive(large, fewLargeEntries(largeMiB << 20)))
        return 1;
    std::printf("built %s (%llu MiB of entries) in %.1f s\n\n", large.c_str(),
                static_cast<unsigned long long>(largeMiB), secondsSince(start));

    const Outcome a = compare("(a) 20,000 small entries", small, work);
    const Outcome b = compare("(b) few large entries", large, work);
    std::filesystem::remove(small);
    std::filesystem::remove(large);
    std::filesystem::remove(work);

    const bool faster = a.cleanerSeconds < a.zipSeconds && b.cleanerSeconds < b.zipSeconds;
    std::printf("\nresults agree: %s; ZipCleaner faster on both: %s\n", a.agree && b.agree ? "yes" : "NO",
                faster ? "yes" : "no");
    return a.agree && b.agree ? 0 : 1;
}
