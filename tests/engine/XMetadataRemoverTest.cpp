#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/xattr.h>
#include <unistd.h>

#include "../store/LogCapture.h"
#include "Error.h"
#include "MetadataRemoverFixture.h"
#include "ScopedMount.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace
{
using XMetadataRemoverTest = MetadataRemoverFixture;

// The scripted system, except that asking for the facts of one path first makes it vanish:
// a deletion then meets an item removed by someone else after it was found.
class VanishingItemSource : public VolumeFactsSource
{
public:
    VanishingItemSource(std::shared_ptr<const VolumeFactsSource> system, std::string vanishing)
        : m_system(std::move(system)), m_vanishing(std::move(vanishing))
    {
    }

    std::optional<VolumeFacts> factsForPath(const std::string &path) const override
    {
        if (path == m_vanishing)
            fs::remove_all(path);
        return m_system->factsForPath(path);
    }
    bool probeNativeExtendedAttributes(const std::string &mountPoint) const override
    {
        return m_system->probeNativeExtendedAttributes(mountPoint);
    }
    VolumeLocation locate(const std::string &path) const override { return m_system->locate(path); }

private:
    std::shared_ptr<const VolumeFactsSource> m_system;
    std::string m_vanishing;
};

std::string errorText(int code)
{
    return Error::posix(code).localizedDescription();
}
}

TEST_F(XMetadataRemoverTest, EachFixedFileNameIsDeletedReportedAndCounted)
{
    const std::vector<std::string> names = {".DS_Store", "desktop.ini", "Desktop.ini", "Thumbs.db",
                                            ".VolumeIcon.icns", ".apdisk", "Icon\r"};
    for (const std::string &name : names)
        file(name);
    file("Icon", "not the icon file");
    for (const std::string &name : names)
        m_remover.deleteFile(url(name));

    for (const std::string &name : names)
        EXPECT_FALSE(fileExists(path(name))) << name;
    EXPECT_TRUE(fileExists(path("Icon")));
    EXPECT_EQ(progress().deleted(), 7);
    EXPECT_EQ(lines().front(), "Deleted .DS_Store in Docs on STICK");
    EXPECT_EQ(lines().back(), "Deleted Icon in Docs on STICK");
    EXPECT_TRUE(statisticsReach(7));
    EXPECT_EQ(m_statistics->volumeItemFor(url(""))->lastFolderCleanedName(), "Docs");
}

TEST_F(XMetadataRemoverTest, WhatCannotOrNeedNotBeDeletedIsNotCounted)
{
    LogCapture log;
    m_remover.deleteFile(url(".DS_Store"));
    EXPECT_TRUE(lines().empty()) << "nothing there, nothing said";

    m_remover.deleteFile(URL::fileURLWithPath(folder("Sub") + "/.."));
    EXPECT_EQ(log.countContaining("Ignoring request to delete . or .. "), 1u);

    folder("Thumbs.db");
    m_remover.deleteFile(url("Thumbs.db"));
    EXPECT_TRUE(fs::is_directory(path("Thumbs.db")));
    EXPECT_EQ(lines(), std::vector<std::string>{errorText(EISDIR) + " when deleting Thumbs.db in STICK/Docs"});

    // Found, then removed by someone else before the deletion: silent.
    file(".apdisk");
    const std::shared_ptr<const VolumeFactsSource> scripted = VolumeFactsSource::current();
    VolumeFactsSource::setCurrentForTesting(std::make_shared<VanishingItemSource>(scripted, path(".apdisk")));
    m_remover.deleteFile(url(".apdisk"));
    VolumeFactsSource::setCurrentForTesting(scripted);
    EXPECT_EQ(lines().size(), 1u);
    EXPECT_EQ(progress().deleted(), 0);
    EXPECT_TRUE(statisticsReach(0));
}

TEST_F(XMetadataRemoverTest, AFolderTreeGoesWholeAsOneItemWithoutFollowingLinks)
{
    const std::string outside = m_environment.homeFile("outside");
    fs::create_directories(outside);
    writeFile(outside + "/precious", "keep me");
    file(".AppleDouble/._a");
    file(".AppleDouble/deep/er/._b");
    fs::create_directory_symlink(outside, path(".AppleDouble/deep/link"));
    fs::create_symlink(outside + "/precious", path(".AppleDouble/file-link"));

    m_remover.deleteDirectory(url(".AppleDouble"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path(".AppleDouble"))));
    EXPECT_EQ(readFile(outside + "/precious"), "keep me");
    EXPECT_EQ(progress().deleted(), 1);
    EXPECT_EQ(lines(), std::vector<std::string>{"Deleted .AppleDouble in Docs on STICK"});
    EXPECT_TRUE(statisticsReach(1));
}

TEST_F(XMetadataRemoverTest, OnlyARealFolderIsRemovedByTheFolderDeletion)
{
    const std::string outside = m_environment.homeFile("outside");
    fs::create_directories(outside);
    writeFile(outside + "/precious", "keep me");
    file("@eaDir", "a file, not a folder");
    fs::create_directory_symlink(outside, path(".AppleDouble"));

    m_remover.deleteDirectory(url("@eaDir"));
    m_remover.deleteDirectory(url(".AppleDouble"));
    EXPECT_EQ(readFile(path("@eaDir")), "a file, not a folder");
    EXPECT_TRUE(fs::is_symlink(path(".AppleDouble")));
    EXPECT_EQ(readFile(outside + "/precious"), "keep me");
    EXPECT_EQ(progress().deleted(), 0);
    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(statisticsReach(0));
}

TEST_F(XMetadataRemoverTest, AFolderHoldingAnotherFileSystemStaysAndIsReported)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    file("@eaDir/thumb.jpg");
    const std::string mountPoint = folder("@eaDir/mounted");
    const std::string mountedFolder = folder(".AppleDouble");
    {
        ScopedMount inside("tmpfs", mountPoint);
        ScopedMount itself("tmpfs", mountedFolder);
        ASSERT_TRUE(inside.isMounted()) << inside.failure();
        ASSERT_TRUE(itself.isMounted()) << itself.failure();
        writeFile(mountPoint + "/other", "on another disk");
        writeFile(mountedFolder + "/other", "on another disk");

        m_remover.deleteDirectory(url("@eaDir"));
        m_remover.deleteDirectory(url(".AppleDouble"));
        EXPECT_EQ(readFile(mountPoint + "/other"), "on another disk");
        EXPECT_EQ(readFile(mountedFolder + "/other"), "on another disk");
    }
    EXPECT_EQ(progress().deleted(), 0);
    ASSERT_EQ(lines().size(), 2u);
    EXPECT_EQ(lines()[0], errorText(EBUSY) + " when deleting @eaDir in STICK/Docs");
    EXPECT_EQ(lines()[1], errorText(EBUSY) + " when deleting .AppleDouble in STICK/Docs");
}

TEST_F(XMetadataRemoverTest, BlackListDeletesMatchingFilesBeforeMatchingFolders)
{
    folder("cache.tmp/inner");
    file("a.tmp");
    file("keep.txt");
    file("blog");
    file(".bashrc");
    file("lit\\eral");
    folder("blogs");
    fs::create_symlink(path("keep.txt"), path("link.tmp"));

    m_remover.removeBlackListFiles({}, url(""));
    EXPECT_TRUE(lines().empty());

    m_remover.removeBlackListFiles({"*.tmp", "b*", "*rc", "lit\\eral"}, url(""));
    for (const char *gone : {"cache.tmp", "a.tmp", "blog", "blogs", ".bashrc", "lit\\eral"})
        EXPECT_FALSE(fs::exists(path(gone))) << gone;
    EXPECT_TRUE(fileExists(path("keep.txt")));
    EXPECT_TRUE(fs::is_symlink(path("link.tmp"))) << "links are not listed";
    ASSERT_EQ(lines().size(), 6u);
    EXPECT_TRUE(lines()[4] == "Deleted cache.tmp in Docs on STICK" || lines()[4] == "Deleted blogs in Docs on STICK");
    EXPECT_TRUE(lines()[5] == "Deleted cache.tmp in Docs on STICK" || lines()[5] == "Deleted blogs in Docs on STICK");
    EXPECT_EQ(progress().deleted(), 6);
}

TEST_F(XMetadataRemoverTest, SimulationDeletesNothingButReportsFiles)
{
    file(".DS_Store");
    file("@eaDir/x");
    file("b.tmp");
    useSimulation();
    const auto before = snapshot(m_folder);
    LogCapture log;

    m_remover.deleteFile(url(".DS_Store"));
    m_remover.deleteDirectory(url("@eaDir"));
    m_remover.removeBlackListFiles({"*.tmp"}, url(""));
    EXPECT_FALSE(m_remover.deleteDirectoryLow(url("@eaDir")));

    EXPECT_EQ(snapshot(m_folder), before);
    EXPECT_EQ(progress().deleted(), 2);
    EXPECT_EQ(lines(), (std::vector<std::string>{"Deleted .DS_Store in Docs on STICK", "Deleted b.tmp in Docs on STICK"}));
    EXPECT_EQ(log.countContaining("Simulation mode is running so would have tried to delete: " + path(".DS_Store")
                                  + ". Stats will be updated as if the items were deleted."),
              1u);
    EXPECT_EQ(log.countContaining("Simulation mode is running so would have tried to delete: " + path("@eaDir") + "."), 2u);
    EXPECT_TRUE(statisticsReach(2));
}

TEST_F(XMetadataRemoverTest, WithoutItsRunTheRemoverDoesNothing)
{
    file(".DS_Store");
    m_owner.reset();
    m_remover.deleteFile(url(".DS_Store"));
    EXPECT_TRUE(fileExists(path(".DS_Store")));
}
