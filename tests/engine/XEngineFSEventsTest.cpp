#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <sys/mount.h>
#include <unistd.h>

#include "DiscRecordingWatcher.h"
#include "EngineFixture.h"
#include "FileSystemEventStream.h"
#include "MountTable.h"
#include "PretendBurningMachine.h"
#include "ScopedMount.h"
#include "TestSupport.h"
#include "VolumeFactsSource.h"
#include "VolumeUnmounter.h"
#include "XEngineFSEvents.h"
#include "XTWStore.h"
#include "../store/LogCapture.h"
#include "Logger.h"
#include "PreferencesSupport.h"
#include "UserDefaults.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using CleanMode = XFSDiskOrDirectory::CleanMode;

namespace
{
std::string realPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool contains(const std::vector<std::string> &list, const std::string &item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

class XEngineFSEventsTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        m_activeBefore = XEngine::activeEngines().size();
    }

    // The watcher's thread is gone; its last batches finish cleaning before the store goes.
    void stopWatcher(std::optional<XEngineFSEvents> &watcher)
    {
        watcher.reset();
        EXPECT_TRUE(runEventLoopUntil([&] { return XEngine::activeEngines().size() == m_activeBefore; }, 20s));
    }

    bool waitForRoot(const XEngineFSEvents &watcher, const std::string &folder)
    {
        return runEventLoopUntil([&] { return contains(watcher.watchedRoots(), realPath(folder)); }, 20s);
    }

    // What the runs' windows do when they close: their engines leave.
    void closeWindows()
    {
        for (const std::weak_ptr<XEngineParent> &parent : m_windows->m_parents) {
            if (const std::shared_ptr<XEngineParent> engine = parent.lock())
                engine->progressWindowClosed();
        }
    }

    // Every batch made so far has been cleaned.
    bool batchesDone() { return runEventLoopUntil([&] { return XEngine::activeEngines().size() == m_activeBefore; }, 20s); }

    // A record as an earlier version saved it: its folder named as the user named it, through a
    // link or "..", and read back from the preferences.
    static void storeRecordSavedEarlier(const std::string &path)
    {
        const XFSDiskOrDirectory record(path, CleanMode::alwaysClean);
        UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
        Dictionary preferences = defaults.dictionaryForKey("preferences").value_or(Dictionary());
        Dictionary items;
        if (const auto found = preferences.find("sourceItems"); found != preferences.end() && found->second.asDictionary())
            items = *found->second.asDictionary();
        items.insert_or_assign(record.storageKey(), Value(record.toDictionary()));
        preferences.insert_or_assign("sourceItems", Value(std::move(items)));
        defaults.setObject(Value(std::move(preferences)), "preferences");
        XTWStore::shared().load();
    }

    std::size_t m_activeBefore = 0;
};
}

TEST_F(XEngineFSEventsTest, MetadataMadeInAnAlwaysCleanFolderIsCleanedWithinTwoWindows)
{
    const std::string watched = folder("Watched");
    const std::string ignored = folder("Watched/Ignored");
    const std::string asked = folder("Asked");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(watched, CleanMode::alwaysClean));
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(ignored, CleanMode::ignore));
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(asked, CleanMode::askToClean));

    const XEngineFSEvents::Roots roots = XEngineFSEvents::chooseRoots();
    EXPECT_TRUE(contains(roots.watched, watched));
    EXPECT_FALSE(contains(roots.watched, asked));
    EXPECT_FALSE(contains(roots.watched, ignored));
    EXPECT_TRUE(contains(roots.excluded, ignored));

    std::optional<XEngineFSEvents> watcher(std::in_place, FileSystemEventStream::applicationLatency);
    watcher->makeThread();
    ASSERT_TRUE(waitForRoot(*watcher, watched));

    QElapsedTimer clock;
    clock.start();
    fs::create_directories(watched + "/New/Deeper");
    writeFile(watched + "/New/Deeper/.DS_Store", "x");
    writeFile(ignored + "/.DS_Store", "x");
    writeFile(asked + "/.DS_Store", "x");
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(watched + "/New/Deeper/.DS_Store"); },
                                  2 * FileSystemEventStream::applicationLatency));
    EXPECT_GE(clock.elapsed(), 5000) << "a batch waits for its window";
    EXPECT_TRUE(fileExists(ignored + "/.DS_Store"));
    EXPECT_TRUE(fileExists(asked + "/.DS_Store"));
    stopWatcher(watcher);
}

TEST_F(XEngineFSEventsTest, TheCleanersOwnDeletionsMakeNoBatch)
{
    setDiskOptions({{"dsstore", true}, {"thumbsdb", true}, {"appledouble_netatalk", true}, {"eaDir_Synology", true}});
    file("Meta/.DS_Store");
    file("Meta/Thumbs.db");
    file("Meta/.AppleDouble/deeper/._a");
    file("Meta/@eaDir/thumb/SYNOPHOTO_THUMB_S.jpg");
    file("Meta/kept.txt");
    folder("Sentinel");
    std::vector<std::vector<std::string>> batches;
    FileSystemEventStream stream(300ms, [&](const std::vector<std::string> &folders) { batches.push_back(folders); });
    ASSERT_TRUE(stream.start());
    stream.setRoots({m_docs});

    makeEngine(false)->clean(URL::fileURLWithPath(path("Meta")), std::nullopt);
    ASSERT_FALSE(fileExists(path("Meta/.DS_Store")));
    ASSERT_FALSE(fileExists(path("Meta/.AppleDouble")));
    ASSERT_FALSE(fileExists(path("Meta/@eaDir")));

    writeFile(path("Sentinel/touch"), "x");
    const std::string sentinel = realPath(path("Sentinel"));
    const auto reported = [&batches] {
        std::set<std::string> folders;
        for (const std::vector<std::string> &batch : batches)
            folders.insert(batch.begin(), batch.end());
        return folders;
    };
    ASSERT_TRUE(runEventLoopUntil([&] { return reported().contains(sentinel); }, 20s));
    EXPECT_EQ(reported(), std::set<std::string>{sentinel});
}

TEST_F(XEngineFSEventsTest, AWalkOfATreeNamedThroughALinkMakesNoBatchOfItsOwnDeletions)
{
    setDiskOptions({{"dsstore", true}, {"appledouble", true}, {"volumeAttrs", false}, {"securityData", false},
                    {"tags", false}, {"aliasData", false}, {"colorLabels", false}, {"customIcons", false}});
    for (const char *name : {"Tree/.DS_Store", "Tree/a/.DS_Store", "Tree/a/b/.DS_Store", "Tree/a/b/x", "Tree/a/b/._x"})
        file(name);
    folder("Sentinel");
    const std::string link = path("Link");
    ASSERT_EQ(symlink("Tree", link.c_str()), 0);
    std::vector<std::vector<std::string>> batches;
    FileSystemEventStream stream(300ms, [&](const std::vector<std::string> &folders) { batches.push_back(folders); });
    ASSERT_TRUE(stream.start());
    stream.setRoots({m_docs});

    // The user names the tree through the link: the walk reaches it by its real path.
    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(link)}, false);
    ASSERT_TRUE(waitForFinishedRuns(1));
    ASSERT_FALSE(fileExists(path("Tree/a/b/.DS_Store")));
    ASSERT_FALSE(fileExists(path("Tree/a/b/._x")));

    writeFile(path("Sentinel/touch"), "x");
    const std::string sentinel = realPath(path("Sentinel"));
    std::set<std::string> reported;
    ASSERT_TRUE(runEventLoopUntil([&] {
        for (const std::vector<std::string> &batch : batches)
            reported.insert(batch.begin(), batch.end());
        return reported.contains(sentinel);
    }, 20s));
    EXPECT_EQ(reported, std::set<std::string>{sentinel});
    // The run's window closes, and its engine goes, before the next test counts the engines.
    closeWindows();
    EXPECT_TRUE(batchesDone());
}

TEST_F(XEngineFSEventsTest, ABatchArrivingWhileADiscIsBurntIsDropped)
{
    const std::string watched = folder("Burnt");
    const std::string later = folder("Burnt/Later");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(watched, CleanMode::alwaysClean));
    std::optional<XEngineFSEvents> watcher(std::in_place, 300ms);
    watcher->makeThread();
    ASSERT_TRUE(waitForRoot(*watcher, watched));

    std::optional<PretendBurningMachine> machine(std::in_place);
    ASSERT_TRUE(DiscRecordingWatcher::shared().isBusyBurning());

    // Ten windows long nothing is cleaned while the drive is busy.
    writeFile(watched + "/.DS_Store", "x");
    runEventLoopFor(3s);
    EXPECT_TRUE(fileExists(watched + "/.DS_Store"));

    machine->removeDrive();
    EXPECT_FALSE(DiscRecordingWatcher::shared().isBusyBurning());
    machine.reset();

    // A later batch is cleaned, without the dropped one's folder.
    writeFile(later + "/.DS_Store", "x");
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(later + "/.DS_Store"); }, 20s));
    EXPECT_TRUE(fileExists(watched + "/.DS_Store")) << "a dropped batch is not cleaned later";
    stopWatcher(watcher);
}

TEST_F(XEngineFSEventsTest, EjectingThroughTarnwickCleansTheVolumeFirstAndThenUnmounts)
{
    if (!isRoot())
        GTEST_SKIP() << "ejecting needs a real mount (run as root)";
    // The real system's volume facts, for a real volume.
    VolumeFactsSource::setCurrentForTesting(nullptr);
    setDiskOptions({{"dsstore", true}, {"onlyCleanManually", false}});
    const std::string volume = m_environment.volumesFolder() + "/RAMDISK";
    fs::create_directories(volume);
    const ScopedMount ram("ramfs", volume);
    ASSERT_TRUE(ram.isMounted()) << ram.failure();
    writeFile(volume + "/.DS_Store", "x");
    writeFile(volume + "/kept.txt", "x");
    // A second view of the same file system, to look at it once the volume is unmounted.
    TemporaryDirectory view;
    ASSERT_EQ(mount(volume.c_str(), view.path().c_str(), nullptr, MS_BIND, nullptr), 0);

    std::optional<XEngineFSEvents> watcher(std::in_place, 300ms);
    watcher->makeThread();
    ASSERT_TRUE(waitForRoot(*watcher, volume)) << "an always-clean volume is watched";

    std::optional<bool> unmounted;
    VolumeUnmounter::unmountAndEjectDeviceAtPathAsync(volume, [&unmounted](bool result) { unmounted = result; });
    EXPECT_FALSE(unmounted) << "the caller does not wait";
    ASSERT_TRUE(runEventLoopUntil([&] { return unmounted.has_value(); }, 30s));
    EXPECT_TRUE(*unmounted);
    EXPECT_FALSE(MountTable::current().mountAt(volume));
    EXPECT_FALSE(fileExists(view.file(".DS_Store"))) << "cleaned before the unmount";
    EXPECT_TRUE(fileExists(view.file("kept.txt")));
    stopWatcher(watcher);
    umount2(view.path().c_str(), MNT_DETACH);
}

TEST_F(XEngineFSEventsTest, AKeptFolderWhosePathComesToNameAnotherFolderIsNeverConfusedWithIt)
{
    // Two kept folders and a third to tell when the watcher has caught up; folders elsewhere
    // with the same inner names, as another user could put at the kept folders' paths.
    TemporaryDirectory elsewhere;
    for (const std::string &folder : {path("Team/Project"), path("Second"), elsewhere.file("Team/Project"),
                                      elsewhere.file("Outside")}) {
        fs::create_directories(folder + "/sub");
        writeFile(folder + "/sub/.DS_Store", "x");
    }
    const std::string sentinel = folder("Sentinel");
    for (const std::string &kept : {path("Team/Project"), path("Second"), sentinel})
        ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(kept, CleanMode::alwaysClean));
    std::optional<XEngineFSEvents> watcher(std::in_place, 300ms);
    watcher->makeThread();
    for (const std::string &kept : {path("Team/Project"), path("Second"), sentinel})
        ASSERT_TRUE(waitForRoot(*watcher, kept));
    LogCapture log;

    // The folder above the first renamed and another folder put in its place; the second
    // exchanged with a folder outside. Then changes in all four.
    ASSERT_EQ(rename(path("Team").c_str(), path("Team.moved").c_str()), 0);
    ASSERT_EQ(rename(elsewhere.file("Team").c_str(), path("Team").c_str()), 0);
    ASSERT_EQ(renameat2(AT_FDCWD, path("Second").c_str(), AT_FDCWD, elsewhere.file("Outside").c_str(),
                        RENAME_EXCHANGE),
              0);
    ASSERT_TRUE(runEventLoopUntil([&] {
        return log.countContaining(std::string(": ") + WatchedRoot::movedOrReplacedReason) >= 2;
    }, 20s));
    for (const std::string &changed : {path("Team.moved/Project/sub"), path("Team/Project/sub"),
                                       elsewhere.file("Outside/sub"), path("Second/sub")})
        writeFile(changed + "/changed.txt", "x");
    writeFile(sentinel + "/.DS_Store", "x");
    ASSERT_TRUE(runEventLoopUntil([&] { return !fileExists(sentinel + "/.DS_Store"); }, 20s));
    ASSERT_TRUE(batchesDone());

    EXPECT_TRUE(fileExists(path("Team/Project/sub/.DS_Store"))) << "the folder now at the first's path";
    EXPECT_TRUE(fileExists(path("Second/sub/.DS_Store"))) << "the outside folder now at the second's path";
    for (const std::string &kept : {path("Team/Project"), path("Second")})
        EXPECT_EQ(log.countContaining("Not cleaned: " + kept + ": " + WatchedRoot::movedOrReplacedReason), 1u) << kept;
    stopWatcher(watcher);
}

TEST_F(XEngineFSEventsTest, AKeptFolderRemovedAndMadeAgainOrMovedAwayAndBackIsWatchedAgain)
{
    const std::string kept = folder("Kept");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(kept, CleanMode::alwaysClean));
    std::optional<XEngineFSEvents> watcher(std::in_place, 300ms);
    watcher->makeThread();
    ASSERT_TRUE(waitForRoot(*watcher, kept));

    fs::remove_all(kept);
    fs::create_directories(kept + "/again");
    writeFile(kept + "/again/.DS_Store", "x");
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(kept + "/again/.DS_Store"); }, 20s));

    fs::rename(kept, path("Away"));
    fs::rename(path("Away"), kept);
    ASSERT_TRUE(waitForRoot(*watcher, kept));
    writeFile(kept + "/again/.DS_Store", "x");
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(kept + "/again/.DS_Store"); }, 20s));
    stopWatcher(watcher);
}

TEST_F(XEngineFSEventsTest, AFolderChosenThroughALinkOrDotDotIsCleanedInTheBackground)
{
    const std::string real = folder("Real");
    const std::string other = folder("Other");
    ASSERT_EQ(symlink(real.c_str(), path("Linked").c_str()), 0);
    // As an earlier version stored them; a new record keeps the real path itself.
    storeRecordSavedEarlier(path("Linked"));
    storeRecordSavedEarlier(real + "/../Other");
    std::optional<XEngineFSEvents> watcher(std::in_place, 300ms);
    watcher->makeThread();
    ASSERT_TRUE(waitForRoot(*watcher, real));
    ASSERT_TRUE(waitForRoot(*watcher, other));

    for (const std::string &folder : {real, other})
        writeFile(folder + "/.DS_Store", "x");
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(real + "/.DS_Store") && !fileExists(other + "/.DS_Store"); },
                                  20s));
    stopWatcher(watcher);
}

TEST_F(XEngineFSEventsTest, AScheduledCleanOfAKeptFolderMovedAwayLeavesWhatTookItsPlace)
{
    const std::string kept = folder("Team/Project");
    file("Team/Project/.DS_Store");
    TemporaryDirectory elsewhere;
    fs::create_directories(elsewhere.file("Team/Project/sub"));
    writeFile(elsewhere.file("Team/Project/.DS_Store"), "x");
    writeFile(elsewhere.file("Team/Project/sub/.DS_Store"), "x");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(kept, CleanMode::alwaysClean));
    std::optional<XEngineFSEvents> watcher(std::in_place, 300ms);
    watcher->makeThread();
    ASSERT_TRUE(waitForRoot(*watcher, kept));
    LogCapture log;

    fs::rename(path("Team"), path("Team.moved"));
    fs::rename(elsewhere.file("Team"), path("Team"));
    const auto before = treeSnapshot(path("Team"));
    const std::string line = "Not cleaned: " + kept + ": " + WatchedRoot::movedOrReplacedReason;
    ASSERT_TRUE(runEventLoopUntil([&] { return log.countContaining(line) == 1; }, 20s)) << "the watcher saw it go";

    XEngine::cleanScheduled({URL::fileURLWithPath(kept)});
    ASSERT_TRUE(waitForFinishedRuns(1));
    EXPECT_EQ(treeSnapshot(path("Team")), before) << "the folder that took the kept one's place";
    {
        std::lock_guard lock(m_windows->m_mutex);
        ASSERT_FALSE(m_windows->m_displays.empty());
        EXPECT_EQ(m_windows->m_displays.back()->feedback().back(), line) << "the run's last word";
    }
    EXPECT_TRUE(fileExists(path("Team.moved/Project/.DS_Store")));
    closeWindows();
    stopWatcher(watcher);
}
