#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZError.h"
#include "ZZFileChannel.h"
#include "ZZOldArchiveEntry.h"
#include "ZipCleaner.h"
#include "ZipFixtures.h"

namespace
{
std::string randomText(std::size_t length, unsigned seed)
{
    std::string text(length, ' ');
    for (std::size_t i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        text[i] = static_cast<char>('a' + (seed >> 16) % 26);
    }
    return text;
}

// An archive made by zip: two kept files around metadata entries.
std::string makeZipArchive(const TemporaryDirectory &folder, const std::string &extraOptions = {})
{
    makeFiles(folder.path(), {{"src/a.txt", randomText(5000, 1)},
                              {"src/__MACOSX/._a.txt", "apple double"},
                              {"src/dir/b.txt", randomText(20000, 2)},
                              {"src/dir/.DS_Store", "desktop services"},
                              {"src/c.txt", "short"}});
    const CommandResult made = runCommand(folder.path() + "/src",
                                          "zip -q " + extraOptions + " ../t.zip a.txt __MACOSX/._a.txt dir/b.txt "
                                                                     "dir/.DS_Store c.txt");
    EXPECT_EQ(made.status, 0);
    return folder.file("t.zip");
}

std::vector<std::shared_ptr<ZZArchiveEntry>> withoutNames(const ZZArchive &archive, const std::vector<std::string> &names)
{
    std::vector<std::shared_ptr<ZZArchiveEntry>> kept;
    for (const auto &entry : archive.entries()) {
        if (std::find(names.begin(), names.end(), entry->fileName().value_or("")) == names.end())
            kept.push_back(entry);
    }
    return kept;
}

// The local file (header, data, descriptor) of each entry, by name.
std::map<std::string, Data> localFiles(const ZZArchive &archive)
{
    std::map<std::string, Data> files;
    for (const auto &entry : archive.entries()) {
        const auto &old = static_cast<const ZZOldArchiveEntry &>(*entry);
        Error error;
        const auto length = old.localFileLength(&error);
        EXPECT_TRUE(length);
        const std::uint8_t *start = archive.contents().data + old.localFileHeaderOffset();
        files[*entry->fileName()] = Data(start, start + *length);
    }
    return files;
}
}

TEST(ZZArchiveRewrite, RemovedEntriesGoAndKeptOnesAreCopiedByteForByte)
{
    TemporaryDirectory folder;
    const std::string path = makeZipArchive(folder);
    Error error;
    auto archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr);
    const auto before = localFiles(*archive);
    ASSERT_TRUE(archive->updateEntries(withoutNames(*archive, {"a.txt", "dir/.DS_Store"}), &error))
        << error.localizedDescription();
    EXPECT_TRUE(unzipTestPasses(path));
    const std::vector<std::string> expected = {"__MACOSX/._a.txt", "dir/b.txt", "c.txt"};
    EXPECT_EQ(unzipNames(path), expected);
    const auto after = localFiles(*archive);
    for (const auto &name : expected)
        EXPECT_EQ(after.at(name), before.at(name)) << name;
}

TEST(ZZArchiveRewrite, KeptBeginningStaysAndCommentIsDropped)
{
    TemporaryDirectory folder;
    const std::string path = makeZipArchive(folder);
    // Give it a comment by hand (zip -z reads it from standard input).
    Data bytes = readBytes(path);
    const std::string comment = "archive comment";
    bytes[bytes.size() - 2] = static_cast<std::uint8_t>(comment.size());
    bytes.insert(bytes.end(), comment.begin(), comment.end());
    writeBytes(path, bytes);

    Error error;
    auto archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr) << error.localizedDescription();
    const std::uint64_t centralOffset = static_cast<const ZZOldArchiveEntry &>(*archive->entries().back()).localFileHeaderOffset()
        + *static_cast<const ZZOldArchiveEntry &>(*archive->entries().back()).localFileLength(&error);

    // Unchanged list: same local files, the archive now ends at a comment-free end record.
    ASSERT_TRUE(archive->updateEntries(archive->entries(), &error));
    const Data unchanged = readBytes(path);
    EXPECT_EQ(unchanged.size(), bytes.size() - comment.size());
    EXPECT_TRUE(std::equal(unchanged.begin(), unchanged.begin() + static_cast<long>(centralOffset), bytes.begin()));
    EXPECT_EQ(unchanged[unchanged.size() - 2], 0);
    EXPECT_TRUE(unzipTestPasses(path));

    // Removing only the last entry keeps every earlier local file where it was.
    const auto &second = static_cast<const ZZOldArchiveEntry &>(*archive->entries()[3]);
    const std::uint64_t keptEnd = second.localFileHeaderOffset() + *second.localFileLength(&error);
    auto kept = archive->entries();
    kept.pop_back();
    ASSERT_TRUE(archive->updateEntries(kept, &error));
    const Data shorter = readBytes(path);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.begin() + static_cast<long>(keptEnd), bytes.begin()));
    EXPECT_EQ(unzipNames(path).size(), 4u);
    EXPECT_TRUE(unzipTestPasses(path));

    // Removing the first entry rebuilds from offset 0.
    kept = archive->entries();
    kept.erase(kept.begin());
    ASSERT_TRUE(archive->updateEntries(kept, &error));
    EXPECT_EQ(static_cast<const ZZOldArchiveEntry &>(*archive->entries()[0]).localFileHeaderOffset(), 0u);
    EXPECT_EQ(unzipNames(path), (std::vector<std::string>{"__MACOSX/._a.txt", "dir/b.txt", "dir/.DS_Store"}));
    EXPECT_TRUE(unzipTestPasses(path));
}

TEST(ZZArchiveRewrite, CentralOrderDifferentFromFileOrder)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("reversed.zip");
    writeBytes(path, buildStoredArchive({{"one", "1111", 16}, {"two", "2222"}, {"three", "3333", 12}, {"four", "4444"}},
                                        {}, true));
    Error error;
    auto archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr);
    ASSERT_EQ(archive->entries()[0]->fileName(), "four");
    // Keeping the first two of the central order must not write over the other entries' data.
    ASSERT_TRUE(archive->updateEntries(withoutNames(*archive, {"one"}), &error)) << error.localizedDescription();
    EXPECT_TRUE(unzipTestPasses(path));
    EXPECT_EQ(unzipNames(path), (std::vector<std::string>{"four", "three", "two"}));
    for (const auto &entry : archive->entries())
        EXPECT_TRUE(entry->newDataWithError(&error)) << *entry->fileName();
    ASSERT_TRUE(archive->updateEntries(withoutNames(*archive, {"two"}), &error));
    EXPECT_EQ(unzipNames(path), (std::vector<std::string>{"four", "three"}));
    EXPECT_TRUE(unzipTestPasses(path));
}

TEST(ZZArchiveRewrite, SymbolicLinkIsFollowedToItsArchive)
{
    TemporaryDirectory folder;
    const std::string path = makeZipArchive(folder);
    const std::string link = folder.file("link.zip");
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    Error error;
    auto archive = ZZArchive::archiveWithURL(link, &error);
    ASSERT_NE(archive, nullptr);
    ASSERT_TRUE(archive->updateEntries(withoutNames(*archive, {"c.txt"}), &error)) << error.localizedDescription();
    struct stat status;
    ASSERT_EQ(::lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(unzipNames(path).size(), 4u);
    EXPECT_TRUE(unzipTestPasses(path));
}

TEST(ZZArchiveRewrite, RefusedRewritesLeaveTheArchiveUntouched)
{
    TemporaryDirectory folder;
    const std::string path = makeZipArchive(folder);
    const Data original = readBytes(path);
    Error error;

    // A second name for the file: replacing one name would split them.
    const std::string other = folder.file("other.zip");
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    auto archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr);
    EXPECT_FALSE(archive->updateEntries(withoutNames(*archive, {"c.txt"}), &error));
    EXPECT_EQ(error.code(), ZZOpenWriteErrorCode);
    EXPECT_EQ(readBytes(path), original);
    ::unlink(other.c_str());

    // Changed by someone else since it was read: their version stays.
    archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr);
    Data changed = original;
    changed.push_back('x');
    writeBytes(path, changed);
    EXPECT_FALSE(archive->updateEntries(withoutNames(*archive, {"c.txt"}), &error));
    EXPECT_EQ(error.code(), ZZReplaceWriteErrorCode);
    EXPECT_EQ(readBytes(path), changed);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2) << "no temporary file left";
}

TEST(ZZArchiveRewrite, FolderWithoutRoomForATemporaryFileFailsWithCode4)
{
    TemporaryDirectory folder;
    const std::string mountPoint = folder.file("mnt");
    std::filesystem::create_directory(mountPoint);
    if (isRoot()) {
        // Root writes anywhere a permission would stop others: use a read-only file system.
        ASSERT_EQ(::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m"), 0);
    }
    // Unmounted however the test ends; lazily, should anything still hold the file.
    const std::unique_ptr<const std::string, void (*)(const std::string *)> unmount(
        isRoot() ? &mountPoint : nullptr, [](const std::string *point) { ::umount2(point->c_str(), MNT_DETACH); });
    TemporaryDirectory source;
    std::filesystem::copy_file(makeZipArchive(source), mountPoint + "/t.zip");
    const Data original = readBytes(mountPoint + "/t.zip");
    if (isRoot())
        ASSERT_EQ(::mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    else
        ::chmod(mountPoint.c_str(), 0555);
    Error error;
    auto archive = ZZArchive::archiveWithURL(mountPoint + "/t.zip", &error);
    ASSERT_NE(archive, nullptr);
    EXPECT_FALSE(archive->updateEntries(withoutNames(*archive, {"c.txt"}), &error));
    EXPECT_EQ(error.code(), ZZOpenWriteErrorCode);
    EXPECT_EQ(readBytes(mountPoint + "/t.zip"), original);
    archive.reset();
    if (!isRoot())
        ::chmod(mountPoint.c_str(), 0755);
}

TEST(ZZArchiveRewrite, ModeOwnerAttributesAndACLAreKept)
{
    TemporaryDirectory folder;
    const std::string path = makeZipArchive(folder);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool canChown = isRoot();
    if (canChown) {
        ASSERT_EQ(::chown(path.c_str(), 12345, 23456), 0);
    }
    const bool hasAttributes = ::setxattr(path.c_str(), "user.tarnwick.test", "kept", 4, 0) == 0;
    const bool hasACL = runCommand(folder.path(), "setfacl -m u:nobody:r t.zip").status == 0;
    std::string aclBefore = hasACL ? runCommand(folder.path(), "getfacl -c t.zip").output : "";

    Error error;
    auto archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr);
    ASSERT_TRUE(archive->updateEntries(withoutNames(*archive, {"a.txt"}), &error)) << error.localizedDescription();
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    if (!hasACL) {
        EXPECT_EQ(status.st_mode & 07777, 0640u);
    }
    if (canChown) {
        EXPECT_EQ(status.st_uid, 12345u);
        EXPECT_EQ(status.st_gid, 23456u);
    }
    if (hasAttributes) {
        char value[16] = {};
        EXPECT_EQ(::getxattr(path.c_str(), "user.tarnwick.test", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
    }
    if (hasACL) {
        EXPECT_EQ(runCommand(folder.path(), "getfacl -c t.zip").output, aclBefore);
    }
}

TEST(ZZArchiveRewrite, MemoryArchiveEntriesOutliveTheirLoad)
{
    const Data bytes = buildStoredArchive({{"a", "first"}, {"b", "second"}, {"c", "third"}});
    Error error;
    auto archive = ZZArchive::archiveWithData(bytes, &error);
    ASSERT_NE(archive, nullptr);
    const auto oldEntries = archive->entries();
    auto kept = oldEntries;
    kept.erase(kept.begin());
    ASSERT_TRUE(archive->updateEntries(kept, &error));
    ASSERT_TRUE(archive->updateEntries({archive->entries()[1]}, &error));
    // Entries of earlier loads still read their own, unchanged bytes.
    EXPECT_EQ(*oldEntries[0]->newDataWithError(&error), Data({'f', 'i', 'r', 's', 't'}));
    EXPECT_EQ(*oldEntries[2]->newDataWithError(&error), Data({'t', 'h', 'i', 'r', 'd'}));
    ASSERT_EQ(archive->entries().size(), 1u);
    EXPECT_EQ(archive->entries()[0]->fileName(), "c");
    // And an old entry can be written into the rewritten archive.
    ASSERT_TRUE(archive->updateEntries({archive->entries()[0], oldEntries[0]}, &error));
    EXPECT_EQ(*archive->entries()[1]->newDataWithError(&error), Data({'f', 'i', 'r', 's', 't'}));
}

TEST(ZZArchiveRewrite, ACommittedRewriteRemovesStaleCopiesAKilledOneLeftBeside)
{
    TemporaryDirectory folder;
    const std::string path = makeZipArchive(folder);
    const struct timespec twoHoursAgo[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
    const std::vector<std::string> stale = {".tarnwick-t.zip.K1lled.tarnwick-tmp", ".tarnwick-ad-K1lledAd.tarnwick-tmp"};
    // Names of the user's own, some like the copies of earlier versions, which cannot be told from them.
    const std::vector<std::string> notOurs = {".tarnwick-t.zip", "t.zip.K1lled", ".tarnwick-x.backup",
                                              ".tarnwick-t.zip.K1lled", ".tarnwick-ad-K1lledAd"};
    for (const std::vector<std::string> *names : {&stale, &notOurs}) {
        for (const std::string &name : *names) {
            writeFile(folder.file(name), "left behind");
            ASSERT_EQ(utimensat(AT_FDCWD, folder.file(name).c_str(), twoHoursAgo, 0), 0) << name;
        }
    }
    writeFile(folder.file(".tarnwick-other.zip.Fresh1.tarnwick-tmp"), "another rewrite at work");

    Error error;
    auto archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr);
    ASSERT_TRUE(archive->updateEntries(withoutNames(*archive, {"dir/.DS_Store"}), &error))
        << error.localizedDescription();

    for (const std::string &name : stale)
        EXPECT_FALSE(fileExists(folder.file(name))) << name;
    for (const std::string &name : notOurs)
        EXPECT_TRUE(fileExists(folder.file(name))) << name << " is not a name of ours";
    EXPECT_TRUE(fileExists(folder.file(".tarnwick-other.zip.Fresh1.tarnwick-tmp"))) << "a fresh copy may be in use";
    EXPECT_TRUE(unzipTestPasses(path));
}

namespace
{
// Another program puts a new version of the archive in place between the rewrite's check and
// its commit.
void replaceAtCommit(const std::string &path)
{
    ZZFileChannel::setBeforeCommitForTesting([path] {
        writeFile(path + ".newer", "a newer version");
        ASSERT_EQ(std::rename((path + ".newer").c_str(), path.c_str()), 0);
    });
}

std::size_t entriesIn(const std::string &folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}
}

TEST(ZZArchiveRewrite, ANewerArchivePutInPlaceAtTheCommitIsKeptAndTheRewriteFailsWithCode8)
{
    for (const bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "names exchanged" : "no exchange: checked again before the rename");
        TemporaryDirectory folder;
        const std::string path = makeZipArchive(folder);
        std::filesystem::remove_all(folder.file("src"));
        Error error;
        auto archive = ZZArchive::archiveWithURL(path, &error);
        ASSERT_NE(archive, nullptr);
        ZZFileChannel::setExchangeAllowedForTesting(exchange);
        replaceAtCommit(path);
        const bool rewritten = archive->updateEntries(withoutNames(*archive, {"dir/.DS_Store"}), &error);
        ZZFileChannel::setBeforeCommitForTesting({});
        ZZFileChannel::setExchangeAllowedForTesting(true);

        EXPECT_FALSE(rewritten) << "success reported over a newer archive";
        EXPECT_EQ(error.code(), 8);
        EXPECT_TRUE(readFile(path) == "a newer version") << "the newer archive was overwritten";
        EXPECT_EQ(entriesIn(folder.path()), 1u) << "no temporary copy is left";
    }
}

TEST(ZZArchiveRewrite, AnExchangedCommitLeavesOnlyTheNewArchive)
{
    TemporaryDirectory folder;
    const std::string path = makeZipArchive(folder);
    std::filesystem::remove_all(folder.file("src"));
    Error error;
    auto archive = ZZArchive::archiveWithURL(path, &error);
    ASSERT_NE(archive, nullptr);
    ASSERT_TRUE(archive->updateEntries(withoutNames(*archive, {"dir/.DS_Store"}), &error))
        << error.localizedDescription();
    EXPECT_EQ(entriesIn(folder.path()), 1u) << "the old archive is not left under a temporary name";
    EXPECT_TRUE(unzipTestPasses(path));
    EXPECT_EQ(unzipNames(path).size(), 4u);
}

namespace
{
// What another user of a folder open to them puts under the name of the rewrite's temporary copy.
enum class Substitute { FIFO, LinkToAFileOutside, FileOfTheirOwn };

const char *describe(Substitute substitute)
{
    switch (substitute) {
    case Substitute::FIFO: return "a FIFO";
    case Substitute::LinkToAFileOutside: return "a link to a file outside";
    case Substitute::FileOfTheirOwn: return "a file of their own";
    }
    return "";
}

void putUnderTheName(const std::string &copy, Substitute substitute, const std::string &outside)
{
    ASSERT_EQ(::unlink(copy.c_str()), 0) << copy;
    switch (substitute) {
    case Substitute::FIFO:
        ASSERT_EQ(::mkfifo(copy.c_str(), 0666), 0);
        break;
    case Substitute::LinkToAFileOutside:
        ASSERT_EQ(::symlink(outside.c_str(), copy.c_str()), 0);
        break;
    case Substitute::FileOfTheirOwn:
        writeFile(copy, "their own file");
        break;
    }
}

// The temporary copy of the archive named `archiveName` in the folder; empty when there is none.
std::string temporaryCopyIn(const std::string &folder, const std::string &archiveName)
{
    for (const auto &item : std::filesystem::directory_iterator(folder)) {
        const std::string name = item.path().filename();
        if (name.starts_with(".tarnwick-" + archiveName + ".") && name.ends_with(".tarnwick-tmp"))
            return item.path();
    }
    return {};
}

// Whether what stands at the path is the substitute that was put there.
bool isTheSubstitute(const std::string &path, Substitute substitute, const std::string &outside)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        return false;
    switch (substitute) {
    case Substitute::FIFO:
        return S_ISFIFO(status.st_mode);
    case Substitute::LinkToAFileOutside:
        return S_ISLNK(status.st_mode) && std::filesystem::read_symlink(path) == outside;
    case Substitute::FileOfTheirOwn:
        return S_ISREG(status.st_mode) && readFile(path) == "their own file";
    }
    return false;
}
}

TEST(ZZArchiveRewrite, WhatIsPutUnderTheTemporaryCopysNameNeitherHangsNorRedirectsTheClean)
{
    using namespace std::chrono_literals;
    struct Case
    {
        Substitute substitute;
        bool beforeCommit;
        bool exchange;
    };
    std::vector<Case> cases;
    for (const Substitute substitute : {Substitute::FIFO, Substitute::LinkToAFileOutside, Substitute::FileOfTheirOwn}) {
        for (const bool beforeCommit : {false, true}) {
            for (const bool exchange : {true, false})
                cases.push_back({substitute, beforeCommit, exchange});
        }
    }
    TemporaryDirectory outsideFolder;
    const std::string outside = outsideFolder.file("outside.txt");
    for (const Case &each : cases) {
        SCOPED_TRACE(std::string(describe(each.substitute))
                     + (each.beforeCommit ? " just before the commit" : " once the copy is made")
                     + (each.exchange ? ", names exchanged" : ", plain rename"));
        writeFile(outside, "outside, never to be written");
        TemporaryDirectory folder;
        const std::string path = makeZipArchive(folder);
        std::filesystem::remove_all(folder.file("src"));
        const Data original = readBytes(path);
        std::string copy;
        const auto substituteAt = [&](const std::string &copyPath) {
            ASSERT_FALSE(copyPath.empty());
            copy = copyPath;
            putUnderTheName(copy, each.substitute, outside);
        };
        if (each.beforeCommit)
            ZZFileChannel::setBeforeCommitForTesting([&] { substituteAt(temporaryCopyIn(folder.path(), "t.zip")); });
        else
            ZZFileChannel::setAfterTemporaryCopyCreatedForTesting(substituteAt);
        ZZFileChannel::setExchangeAllowedForTesting(each.exchange);

        std::vector<std::string> removed;
        Error error;
        std::promise<std::int64_t> cleaned;
        auto result = cleaned.get_future();
        std::thread clean([&] { cleaned.set_value(ZipCleaner().cleanZipAtURL(path, &removed, &error)); });
        const bool finished = result.wait_for(60s) == std::future_status::ready;
        EXPECT_TRUE(finished) << "the clean hangs";
        // A clean blocked on the FIFO is let go: a reader and writer of the FIFO's own.
        const std::string blocking = finished ? std::string() : temporaryCopyIn(folder.path(), "t.zip");
        const FileDescriptor release(blocking.empty() ? -1 : ::open(blocking.c_str(), O_RDWR | O_NONBLOCK));
        clean.join();
        ZZFileChannel::setBeforeCommitForTesting({});
        ZZFileChannel::setAfterTemporaryCopyCreatedForTesting({});
        ZZFileChannel::setExchangeAllowedForTesting(true);
        const std::int64_t count = result.get();

        EXPECT_EQ(readFile(outside), "outside, never to be written") << "written through the link";
        EXPECT_TRUE(isTheSubstitute(copy, each.substitute, outside)) << "what another put there was taken";
        struct stat status;
        if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            ADD_FAILURE() << "the archive's name holds something else";
            continue;
        }
        if (count > 0) {
            EXPECT_EQ(error.domain(), "");
            EXPECT_TRUE(unzipTestPasses(path)) << "the archive was damaged";
            EXPECT_EQ(unzipNames(path), (std::vector<std::string>{"a.txt", "dir/b.txt", "c.txt"}));
        } else {
            EXPECT_EQ(error.domain(), ZZErrorDomain);
            EXPECT_TRUE(removed.empty());
            EXPECT_TRUE(readBytes(path) == original) << "a refused clean changed the archive";
        }
    }
}
