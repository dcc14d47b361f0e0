#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "AppleDoubleTestData.h"
#include "AsAnotherUser.h"
#include "EngineFixture.h"
#include "Logger.h"
#include "PreferencesSupport.h"
#include "UserDefaults.h"
#include "ScopedMount.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace
{
const std::string quarantine = "com.apple.quarantine";
const std::string tags = "com.apple.metadata:_kMDItemUserTags";

std::size_t countContaining(const std::vector<std::string> &lines, const std::string &text)
{
    return std::count_if(lines.begin(), lines.end(),
                         [&text](const std::string &line) { return line.find(text) != std::string::npos; });
}

// The daily log's lines that contain the text.
std::size_t logLinesContaining(const std::string &text)
{
    const std::string contents = Logger::shared().logContents().value_or("");
    std::size_t count = 0;
    for (std::size_t at = contents.find(text); at != std::string::npos; at = contents.find(text, at + text.size()))
        ++count;
    return count;
}

class XEngineFailuresTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        // Only the "._" pass, keeping the tags: a companion is read and rewritten, not deleted whole.
        setDiskOptions({{"appledouble", true}, {"tags", true}, {"volumeAttrs", false}, {"securityData", false},
                        {"aliasData", false}, {"colorLabels", false}, {"customIcons", false},
                        {"onlyCleanManually", false}});
        // The log exists before any test changes who may write it.
        Logger::shared().log("A test of failures begins.");
    }

    std::shared_ptr<RunProgress> runAndWait(const std::vector<URL> &urls)
    {
        const std::size_t runs = m_windows->m_displays.size() + 1;
        makeEngine()->cleanWithProgressUI(urls);
        EXPECT_TRUE(waitForFinishedRuns(runs));
        std::lock_guard lock(m_windows->m_mutex);
        return m_windows->m_displays.back();
    }

    // The run as another user, who may do with the folder only what the mode lets everyone do.
    std::shared_ptr<RunProgress> runAsAnotherUserWithFolderMode(const std::vector<URL> &urls,
                                                                const std::string &folder, mode_t mode)
    {
        EXPECT_EQ(chmod(folder.c_str(), mode), 0);
        std::shared_ptr<RunProgress> display;
        {
            const AsAnotherUser user(foldersAboveDocs(), {m_docs, cacheHome()});
            display = runAndWait(urls);
        }
        chmod(folder.c_str(), 0755);
        return display;
    }

    // The folders above Docs and the log's, for a test that runs as another user.
    std::vector<std::string> foldersAboveDocs() const
    {
        const std::string volumes = m_environment.volumesFolder();
        return {fs::path(volumes).parent_path().string(), volumes, m_environment.volume("STICK")};
    }
    static std::string cacheHome() { return std::getenv("XDG_CACHE_HOME"); }

    // A companion as a Mac writes it on a FAT disk, with tags and a quarantine flag.
    void companionWithTags(const std::string &dataFile)
    {
        writeFile(dataFile, "data");
        const AppleDoubleTestData::FinderInfoBytes finder = AppleDoubleTestData::finderInfo("TEXT", "ttxt", 0);
        writeFile(fs::path(dataFile).parent_path().string() + "/._" + fs::path(dataFile).filename().string(),
                  AppleDoubleTestData::companion(finder, {{tags, "bplist"}, {quarantine, "0083;"}}));
    }
};
}

TEST_F(XEngineFailuresTest, AChosenFolderThatCannotBeOpenedIsNotCleanedAndTheRunDoesNotEndInSuccess)
{
    file("Locked/.DS_Store");
    file("Open/.DS_Store");
    fs::create_symlink("Loop", path("Loop"));
    const std::shared_ptr<RunProgress> display = runAsAnotherUserWithFolderMode(
        {URL::fileURLWithPath(path("Locked")), URL::fileURLWithPath(path("Loop/Inside")),
         URL::fileURLWithPath(path("Open"))},
        path("Locked"), 0);

    const std::string locked = "Not cleaned: " + path("Locked") + ": " + std::strerror(EACCES);
    const std::string loop = "Not cleaned: " + path("Loop/Inside") + ": " + std::strerror(ELOOP);
    EXPECT_EQ(logLinesContaining(locked), 1u);
    EXPECT_EQ(logLinesContaining(loop), 1u);
    EXPECT_EQ(display->feedback().back(), locked) << "the first root not cleaned is the run's last word";
    const std::vector<std::string> lines = display->lines();
    EXPECT_EQ(countContaining(lines, "Completed cleaning Locked."), 0u);
    EXPECT_EQ(countContaining(lines, "Completed cleaning Open."), 1u);
    EXPECT_TRUE(fileExists(path("Locked/.DS_Store")));
    EXPECT_FALSE(fileExists(path("Open/.DS_Store")));
}

TEST_F(XEngineFailuresTest, AFolderThatCannotBeListedIsStillCleanedByNameButNotWalked)
{
    file(".DS_Store");
    file("Unlisted/.DS_Store");
    file("Unlisted/Inside/.DS_Store");
    const std::shared_ptr<RunProgress> display = runAsAnotherUserWithFolderMode({docsURL()}, path("Unlisted"), 0333);

    EXPECT_FALSE(fileExists(path(".DS_Store")));
    EXPECT_FALSE(fileExists(path("Unlisted/.DS_Store"))) << "cleaned by name";
    EXPECT_TRUE(fileExists(path("Unlisted/Inside/.DS_Store"))) << "not walked";
    EXPECT_EQ(logLinesContaining("Not cleaned: "), 0u);
    EXPECT_EQ(display->feedback().back(), "Cleaning completed.");
}

TEST_F(XEngineFailuresTest, AFolderBelowTheRootThatCannotBeOpenedIsSaidInTheWindowAndTheLog)
{
    file(".DS_Store");
    file("Locked/.DS_Store");
    const std::shared_ptr<RunProgress> display = runAsAnotherUserWithFolderMode({docsURL()}, path("Locked"), 0);

    const std::string locked = "Not cleaned: " + path("Locked") + ": " + std::strerror(EACCES);
    EXPECT_EQ(countContaining(display->lines(), locked), 1u) << "in the window's list";
    EXPECT_EQ(logLinesContaining(locked), 1u) << "and once in the log";
    EXPECT_FALSE(fileExists(path(".DS_Store")));
    EXPECT_TRUE(fileExists(path("Locked/.DS_Store")));
    EXPECT_EQ(display->feedback().back(), "Cleaning completed.") << "the chosen folder itself was cleaned";
}

TEST_F(XEngineFailuresTest, CompanionsThatCannotBeRewrittenOnAFullDiskAreEachReportedOnce)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting an exFAT image needs root";
    TemporaryDirectory images;
    const std::string image = images.file("full.img");
    if (!ScopedMount::makeExfatImage(image))
        GTEST_SKIP() << "mkfs.exfat is not available";
    const std::string disk = folder("Full");
    ScopedMount mounted = ScopedMount::exfatImage(image, disk);
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();
    constexpr int companions = 8;
    for (int index = 0; index < companions; ++index)
        companionWithTags(disk + "/file" + std::to_string(index) + ".txt");
    // Filled to the last byte: no companion can be written anew.
    {
        const int filler = open((disk + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(filler, 0);
        const std::string block(65536, 'x');
        while (write(filler, block.data(), block.size()) > 0) {
        }
        const std::string byte(1, 'x');
        while (write(filler, byte.data(), 1) > 0) {
        }
        close(filler);
    }
    const std::string before = readFile(disk + "/._file0.txt");

    const std::shared_ptr<RunProgress> display = runAndWait({URL::fileURLWithPath(disk)});

    const std::string failure = std::strerror(ENOSPC);
    const std::vector<std::string> lines = display->lines();
    EXPECT_EQ(countContaining(lines, failure), std::size_t(companions)) << "one line for each companion";
    EXPECT_EQ(logLinesContaining(failure), std::size_t(companions));
    for (int index = 0; index < companions; ++index)
        EXPECT_EQ(countContaining(lines, failure + " when deleting ._file" + std::to_string(index) + ".txt"), 1u);
    EXPECT_EQ(readFile(disk + "/._file0.txt"), before) << "a companion that could not be rewritten is as it was";
}

TEST_F(XEngineFailuresTest, ADamagedCompanionIsReportedOnceAndLeftAsItWasInAWindowOrInTheBackground)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a ramfs needs root";
    const std::string disk = folder("Plain");
    ScopedMount mounted("ramfs", disk);
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();
    writeFile(disk + "/a.txt", "data");
    writeFile(disk + "/._a.txt", "Not written by a Mac");
    companionWithTags(disk + "/b.txt");

    const std::shared_ptr<RunProgress> display = runAndWait({URL::fileURLWithPath(disk)});

    const std::string damaged = "The AppleDouble file \"._a.txt\" is damaged.";
    EXPECT_EQ(countContaining(display->lines(), damaged), 1u);
    EXPECT_EQ(logLinesContaining(damaged), 1u);
    EXPECT_EQ(readFile(disk + "/._a.txt"), "Not written by a Mac");
    EXPECT_EQ(countContaining(display->lines(), "Deleted " + quarantine + " in ._b.txt"), 1u)
        << "the sound companion beside it is cleaned";

    // A background clean has no window: the log says so whether or not deletions are logged.
    PreferencesSupport::standardUserDefaults().setObject(Value(false), "logDeletions");
    XEngine::make(false, false, false, false, false)->cleanOnThread({disk}, watchedRootsAt({disk}));
    EXPECT_EQ(logLinesContaining(damaged + " when deleting ._a.txt in "), 2u);
    EXPECT_EQ(readFile(disk + "/._a.txt"), "Not written by a Mac");
}

TEST_F(XEngineFailuresTest, TheAttributeRunSaysWhichChosenItemItCouldNotReach)
{
    file("Locked/a.txt");
    file("Open/a.txt");
    ASSERT_EQ(chmod(path("Locked").c_str(), 0), 0);
    bool lockedReached = true;
    bool fileInLockedReached = true;
    bool openReached = false;
    {
        const AsAnotherUser user(foldersAboveDocs(), {m_docs, cacheHome()});
        const std::shared_ptr<XEngine> engine = makeEngine();
        lockedReached = engine->removeAttributes(URL::fileURLWithPath(path("Locked")));
        fileInLockedReached = engine->removeAttributes(URL::fileURLWithPath(path("Locked/a.txt")));
        openReached = engine->removeAttributes(URL::fileURLWithPath(path("Open")));
    }
    chmod(path("Locked").c_str(), 0755);

    EXPECT_FALSE(lockedReached);
    EXPECT_FALSE(fileInLockedReached);
    EXPECT_TRUE(openReached);
    EXPECT_EQ(logLinesContaining("Not cleaned: " + path("Locked") + ": " + std::strerror(EACCES)), 1u);
    EXPECT_EQ(logLinesContaining("Not cleaned: " + path("Locked/a.txt") + ": " + std::strerror(EACCES)), 1u);
}

TEST_F(XEngineFailuresTest, AListingThatFailsInAWalkIsSaidAndWhatWasListedIsStillWalked)
{
    setDiskOptions({{"dsstore", true}, {"onlyCleanManually", false}});
    for (const char *name : {"a/.DS_Store", "a/sub/.DS_Store", "b/.DS_Store", "b/sub/.DS_Store", "c/.DS_Store"})
        file(name);
    // As a failing disk answers: "a" once its entries are read, "b" at once.
    const FailingListings failing({{path("a"), 1}, {path("b"), 0}});

    const std::shared_ptr<RunProgress> display = runAndWait({docsURL()});

    EXPECT_FALSE(fileExists(path("a/.DS_Store")));
    EXPECT_FALSE(fileExists(path("a/sub/.DS_Store"))) << "listed before the failure, so walked";
    EXPECT_TRUE(fileExists(path("b/.DS_Store"))) << "nothing of it was listed";
    EXPECT_TRUE(fileExists(path("b/sub/.DS_Store")));
    EXPECT_FALSE(fileExists(path("c/.DS_Store")));
    for (const char *name : {"a", "b"}) {
        const std::string line = "Not cleaned: " + path(name) + ": " + std::strerror(EIO);
        EXPECT_EQ(countContaining(display->lines(), line), 1u) << name;
        EXPECT_EQ(logLinesContaining(line), 1u) << name;
    }
    EXPECT_EQ(display->feedback().back(), "Cleaning completed.") << "the chosen folder itself was listed";
}
