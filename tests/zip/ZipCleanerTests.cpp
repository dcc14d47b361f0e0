#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZError.h"
#include "ZZOldArchiveEntry.h"
#include "ZipCleaner.h"
#include "ZipFixtures.h"

TEST(ZipCleaner, ShouldRemoveItemLooksAtEveryComponent)
{
    EXPECT_TRUE(ZipCleaner::shouldRemoveItem("__MACOSX/a/b.txt"));
    EXPECT_TRUE(ZipCleaner::shouldRemoveItem("x/._a.txt"));
    EXPECT_TRUE(ZipCleaner::shouldRemoveItem("dir/.DS_Store"));
    EXPECT_TRUE(ZipCleaner::shouldRemoveItem("._"));
    EXPECT_TRUE(ZipCleaner::shouldRemoveItem("a//__MACOSXnot/b"));
    EXPECT_TRUE(ZipCleaner::shouldRemoveItem(".DS_Store.bak"));
    EXPECT_FALSE(ZipCleaner::shouldRemoveItem("a/DS_Store"));
    EXPECT_FALSE(ZipCleaner::shouldRemoveItem("a._b/c_.txt"));
    EXPECT_FALSE(ZipCleaner::shouldRemoveItem("MACOSX/file"));
    EXPECT_FALSE(ZipCleaner::shouldRemoveItem(""));
}

TEST(ZipCleaner, RemovesMetadataEntriesAndReportsThem)
{
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"src/photo.jpg", std::string(40000, 'p')},
                              {"src/__MACOSX/._photo.jpg", "ad"},
                              {"src/docs/readme.txt", "read me"},
                              {"src/docs/._readme.txt", "ad"},
                              {"src/docs/.DS_Store", "ds"}});
    ASSERT_EQ(runCommand(folder.path() + "/src", "zip -q -r ../t.zip photo.jpg __MACOSX docs").status, 0);
    std::vector<std::string> removed;
    Error error;
    const std::int64_t count = ZipCleaner().cleanZipAtURL(folder.file("t.zip"), &removed, &error);
    EXPECT_EQ(error.domain(), "");
    EXPECT_EQ(count, 4);
    EXPECT_EQ(removed.size(), 4u);
    EXPECT_NE(std::find(removed.begin(), removed.end(), "__MACOSX/"), removed.end());
    EXPECT_NE(std::find(removed.begin(), removed.end(), "docs/.DS_Store"), removed.end());
    EXPECT_TRUE(unzipTestPasses(folder.file("t.zip")));
    EXPECT_EQ(unzipNames(folder.file("t.zip")), (std::vector<std::string>{"photo.jpg", "docs/", "docs/readme.txt"}));
}

TEST(ZipCleaner, ArchiveWithoutMetadataIsNotTouched)
{
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"a.txt", "alpha"}});
    ASSERT_EQ(runCommand(folder.path(), "echo 'kept comment' | zip -q -z t.zip a.txt").status, 0);
    struct stat before;
    ASSERT_EQ(::stat(folder.file("t.zip").c_str(), &before), 0);
    const Data bytes = readBytes(folder.file("t.zip"));
    std::vector<std::string> removed;
    Error error;
    EXPECT_EQ(ZipCleaner().cleanZipAtURL(folder.file("t.zip"), &removed, &error), 0);
    EXPECT_TRUE(removed.empty());
    struct stat after;
    ASSERT_EQ(::stat(folder.file("t.zip").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(readBytes(folder.file("t.zip")), bytes);
}

TEST(ZipCleaner, UnreadableArchivesReportTheLayersError)
{
    TemporaryDirectory folder;
    std::vector<std::string> removed;
    Error error;
    EXPECT_EQ(ZipCleaner().cleanZipAtURL(folder.file("missing.zip"), &removed, &error), 0);
    EXPECT_EQ(error.domain(), ZZErrorDomain);
    EXPECT_EQ(error.code(), ZZOpenReadErrorCode);
    writeFile(folder.file("fake.zip"), "not a zip archive at all, just text");
    EXPECT_EQ(ZipCleaner().cleanZipAtURL(folder.file("fake.zip"), &removed, &error), 0);
    EXPECT_EQ(error.code(), ZZEndOfCentralDirectoryReadErrorCode);
    EXPECT_EQ(readFile(folder.file("fake.zip")), "not a zip archive at all, just text");
    EXPECT_TRUE(removed.empty());
}

TEST(ZipCleaner, NamesInAnotherEncodingAreJudgedByTheirBytes)
{
    TemporaryDirectory folder;
    writeBytes(folder.file("latin.zip"), buildStoredArchive({{"caf\xE9/._menu", "ad"}, {"caf\xE9/menu", "menu"}}));
    std::vector<std::string> removed;
    Error error;
    EXPECT_EQ(ZipCleaner().cleanZipAtURL(folder.file("latin.zip"), &removed, &error), 1);
    EXPECT_EQ(removed, std::vector<std::string>{"caf\xC3\xA9/._menu"});
    EXPECT_EQ(unzipNames(folder.file("latin.zip")).size(), 1u);
    EXPECT_TRUE(unzipTestPasses(folder.file("latin.zip")));
}

TEST(ZipCleaner, ARewriteThatFailsReportsNothingRemoved)
{
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"a.txt", "alpha"}, {".DS_Store", "ds"}});
    ASSERT_EQ(runCommand(folder.path(), "zip -q t.zip a.txt .DS_Store").status, 0);
    // A second name for the archive: replacing one of them would split the file, so the rewrite is refused.
    ASSERT_EQ(::link(folder.file("t.zip").c_str(), folder.file("second.zip").c_str()), 0);
    const Data bytes = readBytes(folder.file("t.zip"));
    std::vector<std::string> removed{"earlier"};
    Error error;
    EXPECT_EQ(ZipCleaner().cleanZipAtURL(folder.file("t.zip"), &removed, &error), 0);
    EXPECT_NE(error.domain(), "");
    EXPECT_EQ(removed, std::vector<std::string>{"earlier"});
    EXPECT_EQ(readBytes(folder.file("t.zip")), bytes);
}

TEST(ZipCleaner, TheRewriteStaysInTheFolderTheArchiveWasReadFrom)
{
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"in/a.txt", "alpha"}, {"in/.DS_Store", "ds"}, {"outside/a.txt", "other"}});
    ASSERT_EQ(runCommand(folder.path() + "/in", "zip -q t.zip a.txt .DS_Store").status, 0);
    ASSERT_EQ(runCommand(folder.path() + "/outside", "zip -q t.zip a.txt").status, 0);
    const Data outsideBytes = readBytes(folder.file("outside/t.zip"));
    Error error;
    auto archive = ZZArchive::archiveWithURL(folder.file("in/t.zip"), &error);
    ASSERT_TRUE(archive);
    // The archive's folder swapped for a link to another folder between the read and the rewrite.
    ASSERT_EQ(::rename(folder.file("in").c_str(), folder.file("moved").c_str()), 0);
    ASSERT_EQ(::symlink(folder.file("outside").c_str(), folder.file("in").c_str()), 0);
    std::vector<std::shared_ptr<ZZArchiveEntry>> kept{archive->entries().front()};
    EXPECT_TRUE(archive->updateEntries(kept, &error)) << error.localizedDescription();
    EXPECT_EQ(readBytes(folder.file("outside/t.zip")), outsideBytes);
    EXPECT_EQ(unzipNames(folder.file("moved/t.zip")), std::vector<std::string>{"a.txt"});
}

namespace
{
std::size_t entriesIn(const std::string &folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}

// Cleans with the size of any file this process writes capped: an archive that would be
// written out many times over then fails at once instead of filling the disk.
std::int64_t cleanWithWritesCapped(const std::string &path, std::vector<std::string> *removed, Error *error)
{
    struct rlimit previous;
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit capped = previous;
    capped.rlim_cur = 64 << 20;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &capped), 0);
    const std::int64_t count = ZipCleaner().cleanZipAtURL(path, removed, error);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    return count;
}
}

TEST(ZipCleaner, AnArchiveWhoseRecordsAllNameOneEntryIsRefusedAsItIs)
{
    // The published shape of an overlapping zip bomb: 20,000 central records naming one 4 MiB
    // local file, rewritten naively as 80 GB, and one "__MACOSX/" entry to clean.
    TemporaryDirectory folder;
    const std::string payload(4 << 20, 'p');
    Data local = localRecord("payload.bin", payload);
    const auto companionOffset = static_cast<std::uint32_t>(local.size());
    const Data companion = localRecord("__MACOSX/._payload.bin", "apple double");
    local.insert(local.end(), companion.begin(), companion.end());
    std::vector<CentralRecord> records(20000, CentralRecord::of("", 0, payload));
    for (std::size_t k = 0; k < records.size(); ++k)
        records[k].name = "payload-" + std::to_string(k) + ".bin";
    records.push_back(CentralRecord::of("__MACOSX/._payload.bin", companionOffset, "apple double"));
    const std::string path = folder.file("bomb.zip");
    const Data bytes = withCentralDirectory(local, records);
    writeBytes(path, bytes);

    std::vector<std::string> removed;
    Error error;
    EXPECT_EQ(cleanWithWritesCapped(path, &removed, &error), 0);
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(error.domain(), ZZErrorDomain);
    EXPECT_EQ(error.code(), ZZLocalFileReadErrorCode) << error.localizedDescription();
    EXPECT_EQ(error.localizedDescription(), "The zip archive's entries overlap one another.");
    EXPECT_TRUE(readBytes(path) == bytes) << "the archive was changed";
    EXPECT_EQ(entriesIn(folder.path()), 1u) << "a temporary file was left behind";

    // Nor is any entry's data read out of it.
    auto archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr);
    EXPECT_FALSE(archive->entries()[1]->newDataWithError(&error));
    EXPECT_EQ(error.code(), ZZLocalFileReadErrorCode);
}

TEST(ZipCleaner, AnEntryNestedInAnotherOrRunningIntoTheDirectoryIsRefused)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("t.zip");
    // One entry's local file inside another's data: the second overlaps the first.
    const Data inner = localRecord("._inner.txt", std::string(1000, 'i'));
    const std::string innerBytes(inner.begin(), inner.end());
    const Data outer = localRecord("outer.bin", innerBytes);
    const auto innerOffset = static_cast<std::uint32_t>(30 + std::string("outer.bin").size());
    const Data nested = withCentralDirectory(outer, {CentralRecord::of("outer.bin", 0, innerBytes),
                                                     CentralRecord::of("._inner.txt", innerOffset,
                                                                       std::string(1000, 'i'))});
    // An entry whose data runs on into the central directory.
    const Data kept = localRecord("kept.txt", "kept");
    Data tail = kept;
    const Data dsStore = localRecord(".DS_Store", "ds");
    tail.insert(tail.end(), dsStore.begin(), dsStore.end());
    CentralRecord runsOn = CentralRecord::of("kept.txt", 0, "kept");
    runsOn.size += 200;
    const Data intoDirectory = withCentralDirectory(
        tail, {runsOn, CentralRecord::of(".DS_Store", static_cast<std::uint32_t>(kept.size()), "ds")});

    for (const Data &bytes : {nested, intoDirectory}) {
        writeBytes(path, bytes);
        std::vector<std::string> removed;
        Error error;
        EXPECT_EQ(cleanWithWritesCapped(path, &removed, &error), 0);
        EXPECT_TRUE(removed.empty());
        EXPECT_EQ(error.code(), ZZLocalFileReadErrorCode) << error.localizedDescription();
        EXPECT_TRUE(readBytes(path) == bytes);
        EXPECT_EQ(entriesIn(folder.path()), 1u);
    }
}

TEST(ZipCleaner, AnArchiveWhoseCentralOrderDiffersFromItsFileOrderIsCleaned)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("reversed.zip");
    writeBytes(path, buildStoredArchive({{"__MACOSX/._a.txt", "ad", 16},
                                         {"a.txt", "alpha"},
                                         {"docs/.DS_Store", "ds", 12},
                                         {"docs/b.txt", "bravo"}},
                                        {}, true));
    std::vector<std::string> removed;
    Error error;
    EXPECT_EQ(ZipCleaner().cleanZipAtURL(path, &removed, &error), 2);
    EXPECT_EQ(error.domain(), "") << error.localizedDescription();
    EXPECT_EQ(removed, (std::vector<std::string>{"docs/.DS_Store", "__MACOSX/._a.txt"}));
    EXPECT_TRUE(unzipTestPasses(path));
    EXPECT_EQ(unzipNames(path), (std::vector<std::string>{"docs/b.txt", "a.txt"}));
}

TEST(ZipCleaner, AnArchiveWhoseCountWrappedPastTheLimitIsRefused)
{
    // 65,536 entries: the end record's 16-bit count reads 0, and the metadata among them would
    // stay while "0 removed" looked like success.
    std::vector<StoredEntry> entries;
    for (int k = 0; k < 65536; ++k)
        entries.push_back({(k % 2 ? "._f" : "f") + std::to_string(k), "x"});
    TemporaryDirectory folder;
    const std::string path = folder.file("many.zip");
    const Data bytes = buildStoredArchive(entries);
    writeBytes(path, bytes);
    std::vector<std::string> removed;
    Error error;
    EXPECT_EQ(ZipCleaner().cleanZipAtURL(path, &removed, &error), 0);
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(error.domain(), ZZErrorDomain);
    EXPECT_EQ(error.code(), ZZEndOfCentralDirectoryReadErrorCode);
    EXPECT_EQ(error.localizedDescription(),
              "The zip archive's central directory does not hold the number of entries its end record gives.");
    EXPECT_TRUE(readBytes(path) == bytes);
}

namespace
{
std::string sha256Of(const std::string &path)
{
    return runCommand("/", "sha256sum " + shellQuoted(path)).output.substr(0, 64);
}

// Where the local header of the named entry begins.
std::uint64_t localHeaderOf(const Data &bytes, const std::string &name)
{
    Error error;
    const auto archive = ZZArchive::archiveWithData(bytes, &error);
    EXPECT_NE(archive, nullptr) << error.localizedDescription();
    for (const auto &entry : archive ? archive->entries() : std::vector<std::shared_ptr<ZZArchiveEntry>>()) {
        if (entry->fileName() == name)
            return static_cast<const ZZOldArchiveEntry &>(*entry).localFileHeaderOffset();
    }
    ADD_FAILURE() << name << " is not in the archive";
    return 0;
}
}

TEST(ZipCleaner, AKeptEntryWhoseLocalRecordIsDamagedIsRefusedAndTheArchiveLeftAsItIs)
{
    TemporaryDirectory folder;
    std::string text;
    for (int line = 0; line < 300; ++line)
        text += "line " + std::to_string(line) + " of the kept text\n";
    makeFiles(folder.path(), {{"src/first.txt", text}, {"src/.DS_Store", "desktop services"}, {"src/last.txt", text}});
    const std::string files = " first.txt .DS_Store last.txt";
    // Archives as the tools make them: a kept entry before the metadata, whose local file stays
    // where it is, and one after it, whose local file is copied.
    std::vector<std::pair<std::string, std::string>> tools = {
        {"zip", "zip -q ../made.zip" + files},
        {"zip to a pipe, with data descriptors", "zip -q -" + files + " | cat > ../made.zip"},
        {"7z", "7z a -tzip ../made.zip" + files + " >/dev/null"},
        {"7z with AES", "7z a -tzip -psecret -mem=AES256 ../made.zip" + files + " >/dev/null"}};
    // What is done to a kept entry's local header, at an offset into it.
    struct Damage
    {
        std::string what;
        std::size_t at;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Damage> damages = {{"broken signature", 3, {0x00}},
                                         {"another name", 30, {'F'}},
                                         {"another method", 8, {12, 0}},
                                         {"a name running past the local files", 26, {0xFF, 0xFF}}};
    const std::string path = folder.file("t.zip");
    for (const auto &[tool, command] : tools) {
        SCOPED_TRACE(tool);
        std::filesystem::remove(folder.file("made.zip"));
        if (runCommand(folder.path() + "/src", command).status != 0) {
            ADD_FAILURE() << "could not make the archive with " << command;
            continue;
        }
        const Data made = readBytes(folder.file("made.zip"));
        std::filesystem::remove(folder.file("made.zip"));

        // As made, it is cleaned.
        writeBytes(path, made);
        std::vector<std::string> removed;
        Error error;
        EXPECT_EQ(ZipCleaner().cleanZipAtURL(path, &removed, &error), 1) << error.localizedDescription();
        EXPECT_EQ(unzipNames(path), (std::vector<std::string>{"first.txt", "last.txt"}));

        for (const std::string kept : {"first.txt", "last.txt"}) {
            for (const Damage &damage : damages) {
                SCOPED_TRACE(kept + ": " + damage.what);
                Data damaged = made;
                const std::uint64_t header = localHeaderOf(made, kept);
                const auto at = damaged.begin() + static_cast<long>(header + damage.at);
                std::copy(damage.bytes.begin(), damage.bytes.end(), at);
                writeBytes(path, damaged);
                const std::string hashBefore = sha256Of(path);
                struct stat before;
                ASSERT_EQ(::stat(path.c_str(), &before), 0);

                removed.clear();
                error = Error();
                EXPECT_EQ(ZipCleaner().cleanZipAtURL(path, &removed, &error), 0) << "reported cleaned";
                EXPECT_TRUE(removed.empty());
                EXPECT_EQ(error.domain(), ZZErrorDomain);
                EXPECT_EQ(error.code(), ZZLocalFileReadErrorCode) << error.localizedDescription();
                EXPECT_EQ(error.localizedDescription(),
                          "A zip entry's local header does not match its central directory entry.");
                EXPECT_EQ(sha256Of(path), hashBefore) << "the archive was changed";
                struct stat after;
                ASSERT_EQ(::stat(path.c_str(), &after), 0);
                EXPECT_EQ(after.st_ino, before.st_ino);
                EXPECT_EQ(entriesIn(folder.path()), 2u) << "a temporary copy was left behind";
            }
        }
    }
}
