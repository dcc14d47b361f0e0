#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

#include "../store/LogCapture.h"
#include "AsAnotherUser.h"
#include "EngineFixture.h"
#include "NotificationCenter.h"
#include "PreferencesSupport.h"
#include "ScopedMount.h"
#include "StatisticsManager.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "VolumeFactsSource.h"
#include "XTWStore.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using CleanMode = XFSDiskOrDirectory::CleanMode;

namespace
{
class XEngineBatchTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        setDiskOptions({{"onlyCleanManually", false}, {"dsstore", true}, {"thumbsdb", false}});
    }

    // An always-clean record of the folder's own, with these options switched.
    void addRecord(const std::string &folder, const std::map<std::string, bool> &options)
    {
        ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(folder, CleanMode::alwaysClean));
        XFSDiskOrDirectory record = *XTWStore::shared().detailsForURL(URL::fileURLWithPath(folder), false, false);
        ASSERT_EQ(record.path(), folder);
        for (const auto &[key, enabled] : options)
            record.updateFlags({record.findFlag(key)->withEnabled(enabled)});
        XTWStore::shared().update(record);
    }

    // A background engine cleans the batch on this thread, as the watcher's batches are cleaned.
    static void cleanBatch(const std::vector<std::string> &folders, const std::vector<std::string> &roots)
    {
        XEngine::make(false, false, false, false, false)->cleanOnThread(folders, watchedRootsAt(roots));
    }

    static std::int64_t deletedOn(const std::string &volume)
    {
        return StatisticsManager::shared().volumeItemFor(URL::fileURLWithPath(volume))->numberOfItemsDeleted();
    }
};
}

TEST_F(XEngineBatchTest, ABatchOverTwoVolumesAndThreeRecordsCleansEachFolderWithItsOwnRecord)
{
    // Docs on the stick goes by the disks' record, Docs/Photos by one of its own; Work lies on
    // another volume, with a record of its own.
    const std::string stick = m_environment.volume("STICK");
    const std::string ntfs = m_environment.volume("NTFS");
    const std::string work = ntfs + "/Work";
    for (const std::string &folder : {path("a"), path("b"), path("Photos/p"), work + "/w", work})
        fs::create_directories(folder);
    addRecord(path("Photos"), {{"onlyCleanManually", false}, {"dsstore", false}, {"thumbsdb", true}});
    addRecord(work, {{"onlyCleanManually", false}, {"dsstore", false}, {"thumbsdb", true}});
    const std::vector<std::string> folders = {path("a"), work + "/w", path("Photos/p"), path("b"), work};
    for (const std::string &folder : folders) {
        writeFile(folder + "/.DS_Store", "x");
        writeFile(folder + "/Thumbs.db", "x");
    }
    const std::int64_t stickBefore = deletedOn(stick);
    const std::int64_t ntfsBefore = deletedOn(ntfs);
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "logDeletions");
    LogCapture log;

    cleanBatch(folders, {m_docs, work});

    for (const char *relative : {"a", "b"}) {
        EXPECT_FALSE(fileExists(path(relative) + "/.DS_Store")) << relative;
        EXPECT_TRUE(fileExists(path(relative) + "/Thumbs.db")) << relative;
    }
    for (const std::string &folder : {path("Photos/p"), work + "/w", work}) {
        EXPECT_TRUE(fileExists(folder + "/.DS_Store")) << folder;
        EXPECT_FALSE(fileExists(folder + "/Thumbs.db")) << folder;
    }
    // Each deletion is worded, and counted, on the volume it was made on.
    for (const char *line : {"Deleted .DS_Store in a on STICK", "Deleted .DS_Store in b on STICK",
                             "Deleted Thumbs.db in p on STICK", "Deleted Thumbs.db in w on NTFS",
                             "Deleted Thumbs.db in Work on NTFS"})
        EXPECT_EQ(log.countContaining(line), 1u) << line;
    EXPECT_TRUE(runEventLoopUntil([&] { return deletedOn(stick) == stickBefore + 3; }));
    EXPECT_TRUE(runEventLoopUntil([&] { return deletedOn(ntfs) == ntfsBefore + 2; }));
}

TEST_F(XEngineBatchTest, AFolderThatVanishedOrTurnedIntoALinkDoesNotStopTheRestOfTheBatch)
{
    TemporaryDirectory outside;
    writeFile(outside.file(".DS_Store"), "x");
    fs::create_directories(path("gone"));
    fs::remove(path("gone"));
    fs::create_directory_symlink(outside.path(), path("linked"));
    for (const char *name : {"a", "b"})
        file(std::string(name) + "/.DS_Store");
    LogCapture log;

    // The vanished folder comes first: that the store finds no record for it decides nothing
    // for the folders after it.
    cleanBatch({path("gone"), path("linked"), path("a"), path("b")}, {m_docs});

    EXPECT_TRUE(fileExists(outside.file(".DS_Store")));
    EXPECT_FALSE(fileExists(path("a/.DS_Store")));
    EXPECT_FALSE(fileExists(path("b/.DS_Store")));
    EXPECT_EQ(log.countContaining("Not cleaned: " + path("linked")), 1u);
    EXPECT_EQ(log.countContaining("Not cleaned: " + path("gone")), 0u) << "gone meanwhile is no news";
}

TEST_F(XEngineBatchTest, ARootWhosePathNamesAnotherFolderNowCleansNothingThroughIt)
{
    // Three roots as the watcher knows them, each with a changed subfolder.
    TemporaryDirectory elsewhere;
    for (const std::string &folder : {path("Team/Project"), path("Second"), path("Third"),
                                      elsewhere.file("Team/Project"), elsewhere.file("Outside")}) {
        fs::create_directories(folder + "/sub");
        writeFile(folder + "/sub/.DS_Store", "x");
    }
    const std::vector<WatchedRoot> roots = watchedRootsAt({path("Team/Project"), path("Second"), path("Third")});
    // A folder above the first renamed and another folder put in its place; the second
    // exchanged with a folder outside.
    ASSERT_EQ(rename(path("Team").c_str(), path("Team.moved").c_str()), 0);
    ASSERT_EQ(rename(elsewhere.file("Team").c_str(), path("Team").c_str()), 0);
    ASSERT_EQ(renameat2(AT_FDCWD, path("Second").c_str(), AT_FDCWD, elsewhere.file("Outside").c_str(),
                        RENAME_EXCHANGE),
              0);
    LogCapture log;
    int replaced = 0;

    XEngine::make(false, false, false, false, false)
        ->cleanOnThread({path("Team/Project/sub"), path("Second/sub"), path("Third/sub")}, roots, [&] { ++replaced; });

    EXPECT_TRUE(fileExists(path("Team/Project/sub/.DS_Store"))) << "the folder that took the first's place";
    EXPECT_TRUE(fileExists(path("Second/sub/.DS_Store"))) << "the outside folder now at the second's path";
    EXPECT_FALSE(fileExists(path("Third/sub/.DS_Store"))) << "a root still in place is cleaned";
    for (const std::string &root : {path("Team/Project"), path("Second")})
        EXPECT_EQ(log.countContaining("Not cleaned: " + root + ": the folder kept clean there was moved or replaced"), 1u)
            << root;
    EXPECT_EQ(replaced, 2) << "the roots are chosen again";
}

TEST_F(XEngineBatchTest, AnotherUsersRenamesInASharedFolderNeverTurnTheBatchOnTheVictimsFolder)
{
    if (!isRoot())
        GTEST_SKIP() << "a second user id needs root";
    // The kept folder lies in a folder the group may write; the victim's private folder beside it.
    const std::string shared = folder("Shared");
    ASSERT_EQ(chown(shared.c_str(), 0, AsAnotherUser::nobody), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0770), 0);
    file("Shared/team/project/sub/.DS_Store");
    file("Shared/private/project/sub/.DS_Store");
    file("Shared/private/project/.DS_Store");
    file("Shared/private/project/@eaDir/sub/photo-original.jpg");
    ASSERT_EQ(chmod(path("Shared/private").c_str(), 0700), 0);
    const auto before = treeSnapshot(path("Shared/private"));
    const std::vector<WatchedRoot> roots = watchedRootsAt({path("Shared/team/project")});
    {
        std::vector<std::string> above;
        for (fs::path folder = shared; folder != folder.parent_path(); folder = folder.parent_path())
            above.push_back(folder.parent_path().string());
        const AsAnotherUser attacker(above, {});
        ASSERT_EQ(rename(path("Shared/team").c_str(), path("Shared/team.old").c_str()), 0);
        ASSERT_EQ(rename(path("Shared/private").c_str(), path("Shared/team").c_str()), 0);
    }
    setDiskOptions({{"onlyCleanManually", false}, {"dsstore", true}, {"eaDir_Synology", true}});

    XEngine::make(false, false, false, false, false)
        ->cleanOnThread({path("Shared/team/project"), path("Shared/team/project/sub")}, roots);

    // The victim's folder, now at the kept folder's path, as it was.
    std::map<std::string, std::string> after;
    for (const auto &[item, contents] : treeSnapshot(path("Shared/team")))
        after.emplace(path("Shared/private") + item.substr(path("Shared/team").size()), contents);
    EXPECT_EQ(after, before);
    EXPECT_TRUE(fileExists(path("Shared/team/project/@eaDir/sub/photo-original.jpg")));
}

TEST_F(XEngineBatchTest, AListingThatFailsIsSaidAndWhatWasListedBeforeIsStillCleaned)
{
    for (const char *name : {"a", "b", "c"})
        file(std::string(name) + "/.DS_Store");
    // As a failing disk answers: "a" once its entries are read, "b" at once.
    const FailingListings failing({{path("a"), 1}, {path("b"), 0}});
    LogCapture log;

    cleanBatch({path("a"), path("b"), path("c")}, {m_docs});

    EXPECT_FALSE(fileExists(path("a/.DS_Store"))) << "listed before the failure";
    EXPECT_TRUE(fileExists(path("b/.DS_Store"))) << "nothing of it was listed";
    EXPECT_FALSE(fileExists(path("c/.DS_Store")));
    for (const char *name : {"a", "b"})
        EXPECT_EQ(log.countContaining("Not cleaned: " + path(name) + ": " + std::strerror(EIO)), 1u) << name;
    EXPECT_EQ(log.countContaining("Not cleaned: " + path("c")), 0u);
}

TEST_F(XEngineBatchTest, AFolderOnAnotherMountThanItsRootIsJudgedByThatMount)
{
    if (!isRoot())
        GTEST_SKIP() << "a read-only bind mount needs root";
    // The running system's volume facts, for real mounts.
    VolumeFactsSource::setCurrentForTesting(nullptr);
    TemporaryDirectory tree;
    TemporaryDirectory source;
    writeFile(source.file(".DS_Store"), "x");
    fs::create_directories(tree.file("a"));
    fs::create_directories(tree.file("ro"));
    writeFile(tree.file("a/.DS_Store"), "x");
    ScopedMount mounted = ScopedMount::bind(source.path(), tree.file("ro"));
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();
    ASSERT_EQ(mount(nullptr, tree.file("ro").c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    addRecord(tree.path(), {{"onlyCleanManually", false}, {"dsstore", true}});
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "logDeletions");
    LogCapture log;

    // The record of the folder before it serves, as far as paths go: only its mount tells.
    cleanBatch({tree.file("a"), tree.file("ro")}, {tree.path()});

    EXPECT_FALSE(fileExists(tree.file("a/.DS_Store")));
    EXPECT_TRUE(fileExists(source.file(".DS_Store")));
    EXPECT_EQ(log.countContaining("when deleting"), 0u) << "a read-only volume is not cleaned, so nothing fails";
}

TEST_F(XEngineBatchTest, TheDeletionsOfABatchReachTheStatisticsInOneUpdate)
{
    constexpr int folders = 200;
    const std::string stick = m_environment.volume("STICK");
    std::vector<std::string> changed;
    for (int index = 0; index < folders; ++index) {
        const std::string name = "d" + std::to_string(index);
        file(name + "/.DS_Store");
        changed.push_back(path(name));
    }
    const std::int64_t before = deletedOn(stick);
    // What the statistics say each time they announce a change, while the batch runs on a
    // thread of its own and this thread takes its hops as they come.
    std::set<std::int64_t> announced;
    const NotificationCenter::ObserverToken observer = NotificationCenter::defaultCenter().addObserver(
        StatisticsManager::updatedNotificationName, nullptr, nullptr,
        [&](const Notification &) { announced.insert(deletedOn(stick)); });
    std::atomic<bool> done{false};
    std::thread cleaner([&] {
        cleanBatch(changed, {m_docs});
        done = true;
    });
    EXPECT_TRUE(runEventLoopUntil([&] { return done.load() && deletedOn(stick) == before + folders; }));
    cleaner.join();
    runEventLoopFor(50ms);
    NotificationCenter::defaultCenter().removeObserver(observer);

    for (const std::string &folder : changed)
        EXPECT_FALSE(fileExists(folder + "/.DS_Store")) << folder;
    EXPECT_EQ(deletedOn(stick), before + folders);
    announced.erase(before);
    EXPECT_EQ(announced, std::set<std::int64_t>{before + folders}) << "never a part of the batch";
}
