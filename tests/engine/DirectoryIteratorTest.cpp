#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DirectoryIterator.h"
#include "DirectoryRecords.h"
#include "ReaddirIterator.h"
#include "TestSupport.h"

namespace
{
std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> namesOf(const std::vector<FSItemAndAttrs> &items, bool directories)
{
    std::vector<std::string> names;
    for (const FSItemAndAttrs &item : items) {
        if (item.isDirectory == directories)
            names.push_back(item.name);
    }
    return sorted(names);
}

// A getdents64 record as the kernel lays it out: 8-byte aligned, name NUL-terminated.
void appendRecord(std::vector<std::uint8_t> &buffer, const std::string &name, unsigned char type, std::uint16_t length = 0)
{
    const std::size_t natural = (19 + name.size() + 1 + 7) & ~std::size_t(7);
    const std::uint16_t recordLength = length ? length : static_cast<std::uint16_t>(natural);
    const std::size_t start = buffer.size();
    buffer.resize(start + std::max<std::size_t>(natural, 19), 0);
    std::memcpy(buffer.data() + start + 16, &recordLength, 2);
    buffer[start + 18] = type;
    std::memcpy(buffer.data() + start + 19, name.data(), std::min(name.size(), buffer.size() - start - 19));
}

std::vector<std::string> walked(const std::vector<std::uint8_t> &buffer, bool &wellFormed)
{
    std::vector<std::string> names;
    wellFormed = DirectoryRecords::walk(buffer.data(), buffer.size(),
                                        [&](std::string_view name, unsigned char) { names.emplace_back(name); });
    return names;
}

// A tree with one of each kind of entry the listers must tell apart.
class ListingTree : public testing::Test
{
protected:
    void SetUp() override
    {
        writeFile(m_folder.file("file.txt"), "x");
        writeFile(m_folder.file("Icon\r"), "");
        writeFile(m_folder.file("caf\xe9"), "latin-1 name bytes");
        std::filesystem::create_directory(m_folder.file("folder"));
        ASSERT_EQ(symlink(m_folder.file("folder").c_str(), m_folder.file("link-to-folder").c_str()), 0);
        ASSERT_EQ(mkfifo(m_folder.file("pipe").c_str(), 0600), 0);
    }

    TemporaryDirectory m_folder;
};
}

TEST_F(ListingTree, BulkListingTellsDirectoriesFromEverythingElse)
{
    DirectoryIterator iterator;
    const std::vector<FSItemAndAttrs> items = iterator.contentsOfDirectoryAtPath(m_folder.path());
    EXPECT_EQ(namesOf(items, true), std::vector<std::string> {"folder"});
    EXPECT_EQ(namesOf(items, false), sorted({"file.txt", "Icon\r", "caf\xe9", "link-to-folder", "pipe"}))
        << "a link to a folder is no folder; no . or ..";
    for (const FSItemAndAttrs &item : items)
        EXPECT_EQ(item.fullPath, m_folder.path() + "/" + item.name);

    EXPECT_TRUE(iterator.contentsOfDirectoryAtPath(m_folder.file("link-to-folder")).empty()) << "a link is not followed";
    EXPECT_TRUE(iterator.contentsOfDirectoryAtPath(m_folder.file("missing")).empty());
    EXPECT_TRUE(iterator.contentsOfDirectoryAtPath(m_folder.file("file.txt")).empty());
}

TEST_F(ListingTree, AnUnreportedTypeIsSettledWithoutFollowingLinks)
{
    const FileDescriptor folder = DirectoryRecords::openDirectory(m_folder.path());
    ASSERT_TRUE(folder.isValid());
    EXPECT_EQ(DirectoryRecords::settledType(folder.get(), "file.txt", DT_UNKNOWN), DT_REG);
    EXPECT_EQ(DirectoryRecords::settledType(folder.get(), "folder", DT_UNKNOWN), DT_DIR);
    EXPECT_EQ(DirectoryRecords::settledType(folder.get(), "link-to-folder", DT_UNKNOWN), DT_LNK);
    EXPECT_EQ(DirectoryRecords::settledType(folder.get(), "vanished", DT_UNKNOWN), DT_UNKNOWN);
    EXPECT_EQ(DirectoryRecords::settledType(folder.get(), "vanished", DT_REG), DT_REG) << "a reported type is taken as it is";
}

TEST_F(ListingTree, EntryListingKeepsOnlyFilesAndFolders)
{
    const readdirIterator::Results results = readdirIterator::contentsOfDirectory(m_folder.path() + "/");
    EXPECT_EQ(sorted(results.files),
              sorted({m_folder.file("file.txt"), m_folder.file("Icon\r"), m_folder.file("caf\xe9")}));
    EXPECT_EQ(results.directories, std::vector<std::string> {m_folder.file("folder")});

    const readdirIterator::Results throughLink = readdirIterator::contentsOfDirectory(m_folder.file("link-to-folder"));
    EXPECT_TRUE(throughLink.files.empty() && throughLink.directories.empty());
}

TEST(DirectoryListing, AFolderLargerThanOneBufferIsListedWhole)
{
    TemporaryDirectory folder;
    // Long names make 2000 records of about 200 bytes: several 64 KiB getdents64 rounds.
    std::vector<std::string> expected;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = std::string(180, 'n') + std::to_string(i);
        writeFile(folder.file(name), "");
        expected.push_back(name);
    }
    std::filesystem::create_directory(folder.file("sub"));

    DirectoryIterator iterator;
    const std::vector<FSItemAndAttrs> items = iterator.contentsOfDirectoryAtPath(folder.path());
    EXPECT_EQ(namesOf(items, false), sorted(expected));
    EXPECT_EQ(namesOf(items, true), std::vector<std::string> {"sub"});
    EXPECT_EQ(iterator.contentsOfDirectoryAtPath(folder.path()).size(), 2001u) << "the buffer is reused";

    const readdirIterator::Results results = readdirIterator::contentsOfDirectory(folder.path());
    EXPECT_EQ(results.files.size(), 2000u);
    EXPECT_EQ(results.directories.size(), 1u);
}

TEST(DirectoryListing, AMountPointIsLeftOutOfTheBulkListingOnly)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    TemporaryDirectory folder;
    const std::string mountPoint = folder.file("mounted");
    std::filesystem::create_directory(mountPoint);
    std::filesystem::create_directory(folder.file("plain"));
    ASSERT_EQ(mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, nullptr), 0) << strerror(errno);
    DirectoryIterator iterator;
    const std::vector<FSItemAndAttrs> items = iterator.contentsOfDirectoryAtPath(folder.path());
    const readdirIterator::Results results = readdirIterator::contentsOfDirectory(folder.path());
    umount2(mountPoint.c_str(), MNT_DETACH);

    EXPECT_EQ(namesOf(items, true), std::vector<std::string> {"plain"});
    EXPECT_EQ(sorted(results.directories), sorted({mountPoint, folder.file("plain")}));
}

TEST(DirectoryRecords, WalksWellFormedRecordsAndStopsAtAHostileOne)
{
    bool wellFormed = false;
    std::vector<std::uint8_t> buffer;
    appendRecord(buffer, ".", DT_DIR);
    appendRecord(buffer, "a", DT_REG);
    appendRecord(buffer, std::string(255, 'z'), DT_DIR);
    EXPECT_EQ(walked(buffer, wellFormed), (std::vector<std::string> {".", "a", std::string(255, 'z')}));
    EXPECT_TRUE(wellFormed);

    const auto afterGood = [&](const std::function<void(std::vector<std::uint8_t> &)> &spoil) {
        std::vector<std::uint8_t> bytes;
        appendRecord(bytes, "good", DT_REG);
        spoil(bytes);
        bool ok = true;
        const std::vector<std::string> names = walked(bytes, ok);
        EXPECT_FALSE(ok);
        return names;
    };
    const std::vector<std::string> justGood {"good"};
    EXPECT_EQ(afterGood([](auto &b) { appendRecord(b, "zero", DT_REG, 0xFFFF); b.resize(b.size() - 1); }), justGood)
        << "a record reaching past the bytes filled";
    EXPECT_EQ(afterGood([](auto &b) {
                  appendRecord(b, "x", DT_REG);
                  const std::uint16_t zero = 0;
                  std::memcpy(b.data() + b.size() - 24 + 16, &zero, 2);
              }),
              justGood)
        << "a record length of 0 must not loop";
    EXPECT_EQ(afterGood([](auto &b) { appendRecord(b, "short", DT_REG, 19); }), justGood) << "no room for a name";
    EXPECT_EQ(afterGood([](auto &b) {
                  appendRecord(b, "abcd", DT_REG, 24);
                  std::memset(b.data() + b.size() - 5, 'q', 5);
              }),
              justGood)
        << "a name without its NUL";
    EXPECT_EQ(afterGood([](auto &b) { b.resize(b.size() + 10, 0); }), justGood) << "a truncated header";
}
