#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZError.h"
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
