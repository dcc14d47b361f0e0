#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "../store/LogCapture.h"
#include "EngineFixture.h"
#include "Md5.h"
#include "ScopedMount.h"
#include "TestSupport.h"
#include "XTWStore.h"

namespace fs = std::filesystem;

namespace
{
const std::string quarantine = "user.com.apple.quarantine";
const std::string tags = "user.com.apple.metadata:_kMDItemUserTags";
const std::string lastUsed = "user.com.apple.lastuseddate#PS";

void setAttribute(const std::string &path, const std::string &name, const std::string &value)
{
    ASSERT_EQ(lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0) << path << " " << name;
}

std::vector<std::string> userAttributesOf(const std::string &path)
{
    std::vector<char> names(65536);
    const ssize_t length = llistxattr(path.c_str(), names.data(), names.size());
    std::vector<std::string> found;
    for (ssize_t at = 0; at < length;) {
        const std::string name(names.data() + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        if (name.starts_with("user."))
            found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Every name, kind, byte, link target and `user.` attribute below the folder, links not followed.
std::map<std::string, std::string> fingerprint(const std::string &folder)
{
    std::map<std::string, std::string> print;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        const std::string path = entry.path().string();
        std::string description;
        if (entry.is_symlink())
            description = "link " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            description = "folder";
        else
            description = "file " + md5(readFile(path));
        for (const std::string &name : userAttributesOf(path)) {
            std::vector<char> value(65536);
            const ssize_t size = lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
            description += " " + name + "=" + std::string(value.data(), size > 0 ? std::size_t(size) : 0);
        }
        print[path.substr(folder.size())] = description;
    }
    return print;
}

// Mac metadata of every kind the options cover, a black-listed folder and a data file
// whose "._" companion decides on its attributes.
void populate(const std::string &folder, int subfolders)
{
    fs::create_directories(folder + "/@eaDir/thumbs");
    fs::create_directories(folder + "/cache-notes");
    writeFile(folder + "/cache-notes/notes.txt", "notes");
    writeFile(folder + "/@eaDir/thumbs/t.jpg", "t");
    writeFile(folder + "/.DS_Store", "ds");
    writeFile(folder + "/Thumbs.db", "tb");
    writeFile(folder + "/keep.txt", "keep");
    writeFile(folder + "/a.txt", "data");
    writeFile(folder + "/._a.txt", "companion");
    setAttribute(folder + "/a.txt", quarantine, "q");
    setAttribute(folder + "/a.txt", tags, "t");
    setAttribute(folder + "/a.txt", lastUsed, "u");
    for (int index = 0; index < subfolders; ++index) {
        const std::string sub = folder + "/d" + std::to_string(index);
        fs::create_directories(sub);
        writeFile(sub + "/.DS_Store", "ds");
        writeFile(sub + "/._kept", "companion");
        writeFile(sub + "/kept", "kept");
    }
}

class XEngineRaceTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        writeFile(m_outside.file("probe"), "");
        if (lsetxattr(m_outside.file("probe").c_str(), "user.probe", "1", 1, 0) != 0)
            GTEST_SKIP() << "the temporary folder's file system keeps no user attributes";
        unlink(m_outside.file("probe").c_str());
        // Every option on, a black-list pattern among them.
        XFSDiskOrDirectory record = XTWStore::shared().detailsForDisks();
        record.update(std::vector<BlackListItem>{{md5("cache-*"), "cache-*"}});
        std::vector<XFSDetailsFlagItem> enabled;
        for (const XFSDetailsFlagItem &item : record.detailsFlags())
            enabled.push_back(item.withEnabled(true));
        record.updateFlags(enabled);
        record.setMode(XFSDiskOrDirectory::CleanMode::alwaysClean);
        XTWStore::shared().update(record);
    }

    std::shared_ptr<RunProgress> runAndWait(const std::function<void(const URL &)> &onFolder = {})
    {
        const std::size_t runs = m_windows->m_displays.size() + 1;
        m_windows->m_prepare = [onFolder](RunProgress &display) { display.m_onFolder = onFolder; };
        makeEngine()->cleanWithProgressUI({docsURL()}, false);
        EXPECT_TRUE(waitForFinishedRuns(runs));
        std::lock_guard lock(m_windows->m_mutex);
        return m_windows->m_displays.back();
    }

    // The folder the swap never touches came out as a clean must leave it.
    void expectCleaned(const std::string &folder, int subfolders)
    {
        for (const char *gone : {"/.DS_Store", "/Thumbs.db", "/@eaDir", "/cache-notes"})
            EXPECT_FALSE(fileExists(folder + gone)) << folder + gone;
        EXPECT_EQ(readFile(folder + "/keep.txt"), "keep");
        // The tags and quarantine are kept, so the companion stays; the rest is stripped.
        EXPECT_TRUE(fileExists(folder + "/._a.txt"));
        EXPECT_EQ(userAttributesOf(folder + "/a.txt"), (std::vector<std::string>{tags, quarantine}));
        for (int index = 0; index < subfolders; ++index) {
            const std::string sub = folder + "/d" + std::to_string(index);
            EXPECT_FALSE(fileExists(sub + "/.DS_Store")) << sub;
            EXPECT_FALSE(fileExists(sub + "/._kept")) << sub;
            EXPECT_TRUE(fileExists(sub + "/kept")) << sub;
        }
    }

    TemporaryDirectory m_outside;
};
}

TEST_F(XEngineRaceTest, AFolderSwappedForALinkBeforeTheWalkEntersItIsLeftWithALogLine)
{
    populate(m_outside.path(), 2);
    populate(path("swap"), 2);
    populate(path("stay"), 2);
    const auto before = fingerprint(m_outside.path());
    LogCapture log;
    // Docs is shown once its own clean is done and before anything inside it is entered.
    std::atomic<bool> swapped{false};
    runAndWait([&](const URL &folder) {
        if (folder.path() != m_docs || swapped.exchange(true))
            return;
        fs::rename(path("swap"), path("swap.real"));
        fs::create_directory_symlink(m_outside.path(), path("swap"));
    });

    EXPECT_TRUE(swapped.load());
    EXPECT_EQ(fingerprint(m_outside.path()), before);
    EXPECT_EQ(log.countContaining("Not cleaned: " + path("swap")), 1u);
    EXPECT_TRUE(fileExists(path("swap.real/d0/.DS_Store"))) << "neither reached through the link";
    expectCleaned(path("stay"), 2);
}

TEST_F(XEngineRaceTest, AFolderSwappedBackAndForthWithALinkNeverLetsTheCleanOutOfItsTree)
{
    constexpr int subfolders = 60;
    constexpr int rounds = 20;
    populate(m_outside.path(), subfolders);
    const auto before = fingerprint(m_outside.path());
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        fs::remove_all(path("swap"));
        fs::remove_all(path("swap.real"));
        fs::remove_all(path("stay"));
        populate(path("swap"), subfolders);
        populate(path("stay"), subfolders);
        stop = false;
        std::atomic<bool> started{false};
        // As fast as it can: the folder aside, a link to the outside folder in its place, and back,
        // the link held longer, so that the walk, once inside the folder, mostly meets it.
        const auto swapAway = [&] {
            const std::string swap = path("swap");
            const std::string aside = path("swap.real");
            const std::string outside = m_outside.path();
            const auto hold = [](std::chrono::microseconds length) {
                const auto until = std::chrono::steady_clock::now() + length;
                while (std::chrono::steady_clock::now() < until) {
                }
            };
            while (!stop.load()) {
                if (rename(swap.c_str(), aside.c_str()) != 0)
                    continue;
                symlink(outside.c_str(), swap.c_str());
                hold(std::chrono::microseconds(100));
                unlink(swap.c_str());
                rename(aside.c_str(), swap.c_str());
                hold(std::chrono::microseconds(20));
                ++swaps;
            }
        };
        // Started once the walk has listed the folder, so that it goes on into its subfolders.
        runAndWait([&](const URL &folder) {
            if (folder.path() == path("swap") && !started.exchange(true))
                swapper = std::thread(swapAway);
        });
        stop = true;
        ASSERT_TRUE(started.load());
        swapper.join();
        ASSERT_EQ(fingerprint(m_outside.path()), before);
        expectCleaned(path("stay"), subfolders);
    }
    EXPECT_GT(swaps.load(), rounds);
}

TEST_F(XEngineRaceTest, ARootFolderItemThatIsABindMountOfAnOutsideFolderIsLeftWhole)
{
    if (!isRoot())
        GTEST_SKIP() << "a bind mount needs root";
    populate(m_outside.path(), 1);
    const auto before = fingerprint(m_outside.path());
    const std::string root = m_environment.volume("STICK");
    fs::create_directories(root + "/.Trashes");
    fs::create_directories(root + "/.Spotlight-V100");
    ScopedMount mounted = ScopedMount::bind(m_outside.path(), root + "/.Trashes");
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();

    makeEngine()->cleanVolume(URL::fileURLWithPath(root));

    EXPECT_FALSE(fileExists(root + "/.Spotlight-V100"));
    EXPECT_EQ(fingerprint(m_outside.path()), before);
}
