#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "../store/LogCapture.h"
#include "EngineFixture.h"
#include "MountTable.h"
#include "PreferencesSupport.h"
#include "ScopedMount.h"
#include "StatisticsManager.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "VolumeList.h"
#include "XTWStore.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
using XEngineCleanTest = EngineFixture;

const std::map<std::string, bool> noKeptAttributes = {
    {"volumeAttrs", false}, {"securityData", false}, {"tags", false},
    {"aliasData", false},   {"colorLabels", false},  {"customIcons", false},
};

bool isActive(const std::shared_ptr<XEngine> &engine)
{
    const auto &engines = XEngine::activeEngines();
    return std::find(engines.begin(), engines.end(), engine) != engines.end();
}
}

TEST_F(XEngineCleanTest, AnEngineIsListedAfterTheCurrentEventAndFreedOnceRemoved)
{
    std::shared_ptr<XEngine> engine = XEngine::make(false, true, false, false, false);
    EXPECT_FALSE(isActive(engine)) << "registered through the main operation queue";
    ASSERT_TRUE(runEventLoopUntil([&] { return isActive(engine); }));

    const std::weak_ptr<XEngine> watched = engine;
    engine.reset();
    runEventLoopFor(20ms);
    EXPECT_FALSE(watched.expired()) << "the list keeps a running engine alive";

    watched.lock()->removeFromActiveEngineList();
    EXPECT_TRUE(gone(watched));
}

TEST_F(XEngineCleanTest, EachEnabledKindGoesAndDisabledKindsStay)
{
    std::map<std::string, bool> options = noKeptAttributes;
    options.insert({{"thumbsdb", false}, {"iconfile", true}, {"eaDir_Synology", false}});
    setDiskOptions(options);
    for (const char *name : {".DS_Store", "Thumbs.db", "desktop.ini", "Desktop.ini", ".apdisk", "Icon\r", "a", "._a"})
        file(name);
    file(".AppleDouble/a");
    file("@eaDir/a");
    file("Sub/.DS_Store");

    auto engine = makeEngine();
    engine->clean(docsURL(), std::nullopt);

    for (const char *name : {".DS_Store", "desktop.ini", "Desktop.ini", ".apdisk", "Icon\r", "._a", ".AppleDouble"})
        EXPECT_FALSE(fileExists(path(name))) << name;
    for (const char *name : {"Thumbs.db", "a", "@eaDir/a", "Sub/.DS_Store"})
        EXPECT_TRUE(fileExists(path(name))) << name << " is not the folder's own enabled metadata";
}

TEST_F(XEngineCleanTest, FoldersKeptForManualCleansAreLeftByBackgroundEngines)
{
    setDiskOptions({{"onlyCleanManually", true}});
    file(".DS_Store");

    makeEngine(false)->clean(docsURL(), std::nullopt);
    EXPECT_TRUE(fileExists(path(".DS_Store")));

    makeEngine(true)->clean(docsURL(), std::nullopt);
    EXPECT_FALSE(fileExists(path(".DS_Store")));
}

TEST_F(XEngineCleanTest, AppleDoubleFilesOnADiskWithNativeAttributesGoOnlyInAManualClean)
{
    const std::string folder = m_environment.volume("MacDisk") + "/Work";
    fs::create_directories(folder);
    writeFile(folder + "/a", "x");
    writeFile(folder + "/._a", "x");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(folder, XFSDiskOrDirectory::CleanMode::alwaysClean));
    XFSDiskOrDirectory record = *XTWStore::shared().detailsForURL(URL::fileURLWithPath(folder), false, false);
    for (const auto &[key, enabled] : noKeptAttributes)
        record.updateFlags({record.findFlag(key)->withEnabled(enabled)});
    XTWStore::shared().update(record);

    makeEngine(false)->clean(URL::fileURLWithPath(folder), std::nullopt);
    EXPECT_TRUE(fileExists(folder + "/._a"));

    makeEngine(true)->clean(URL::fileURLWithPath(folder), std::nullopt);
    EXPECT_FALSE(fileExists(folder + "/._a"));
}

TEST_F(XEngineCleanTest, ASimulationChangesNothing)
{
    setDiskOptions(noKeptAttributes);
    file(".DS_Store");
    file("a");
    file("._a");
    file(".AppleDouble/x");
    const std::string root = m_environment.volume("STICK");
    fs::create_directories(root + "/.Trashes/inside");
    const auto before = treeSnapshot(root);

    auto engine = makeEngine(true, true);
    engine->clean(docsURL(), std::nullopt);
    engine->deleteFoldersAuthenticatedIfNeeded({URL::fileURLWithPath(root + "/.Trashes")});

    EXPECT_EQ(treeSnapshot(root), before);
}

TEST_F(XEngineCleanTest, AVolumeRootLosesItsMetadataFoldersAndIconUnlessTheVolumeAttributesAreKept)
{
    const std::string root = m_environment.volume("STICK");
    setDiskOptions({{"volumeicon", true}, {"volumeAttrs", true}});
    fs::create_directories(root + "/.Trashes/501");
    fs::create_directories(root + "/.Spotlight-V100");
    writeFile(root + "/.VolumeIcon.icns", "icon");

    makeEngine()->cleanVolume(URL::fileURLWithPath(root));
    EXPECT_FALSE(fileExists(root + "/.Trashes"));
    EXPECT_FALSE(fileExists(root + "/.Spotlight-V100"));
    EXPECT_TRUE(fileExists(root + "/.VolumeIcon.icns")) << "kept with the volume attributes";

    setDiskOptions({{"volumeAttrs", false}, {"onlyCleanManually", true}});
    fs::create_directories(root + "/.Trashes");
    makeEngine(false)->cleanVolume(URL::fileURLWithPath(root));
    EXPECT_FALSE(fileExists(root + "/.VolumeIcon.icns")) << "goes before the manual-only test";
    EXPECT_TRUE(fileExists(root + "/.Trashes"));
}

TEST_F(XEngineCleanTest, AFolderThatKeepsComingBackIsLeftAndTheVolumeRecleanedOnceLater)
{
    const std::string root = m_environment.volume("STICK");
    const URL trashes = URL::fileURLWithPath(root + "/.Trashes");
    setDiskOptions({});
    std::weak_ptr<XEngine> watched;
    {
        std::shared_ptr<XEngine> engine = XEngine::make(false, true, false, false, false);
        watched = engine;
        for (int request = 1; request <= 10; ++request) {
            fs::create_directories(trashes.path());
            engine->cleanVolume(URL::fileURLWithPath(root));
            ASSERT_FALSE(fileExists(trashes.path())) << "request " << request;
        }
        fs::create_directories(trashes.path());
        engine->cleanVolume(URL::fileURLWithPath(root));
        EXPECT_TRUE(fileExists(trashes.path())) << "the eleventh request is refused";
        engine->cleanVolume(URL::fileURLWithPath(root));
        EXPECT_EQ(StatisticsManager::shared().queuedReclean(), std::vector<URL>{trashes}) << "queued once";
        engine->removeFromActiveEngineList();
    }
    runEventLoopFor(50ms);
    EXPECT_FALSE(watched.expired()) << "the delayed re-clean keeps its engine";
    StatisticsManager::shared().removeFromRecleanQueue(trashes);
}

TEST_F(XEngineCleanTest, AFolderThatCouldNotBeRemovedIsNotCountedAsDeleted)
{
    const std::string root = m_environment.volume("STICK");
    const std::string trashes = root + "/.Trashes";
    fs::create_directories(trashes + "/inner");
    writeFile(trashes + "/inner/file", "x");
    std::optional<ScopedMount> busy;
    if (isRoot()) {
        busy.emplace("tmpfs", trashes + "/inner");
        if (!busy->isMounted())
            GTEST_SKIP() << busy->failure();
    } else {
        ASSERT_EQ(chmod((trashes + "/inner").c_str(), 0555), 0);
    }
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "logDeletions");
    LogCapture log;
    makeEngine()->deleteFoldersAuthenticatedIfNeeded({URL::fileURLWithPath(trashes)});

    EXPECT_TRUE(fileExists(trashes));
    EXPECT_EQ(log.countContaining("Attempting authenticated delete: .Trashes in " + root), 1u);
    runEventLoopFor(50ms);
    const auto statistics = StatisticsManager::shared().volumeItemFor(URL::fileURLWithPath(root));
    EXPECT_EQ(statistics ? statistics->numberOfItemsDeleted() : 0, 0);
    busy.reset();
    chmod((trashes + "/inner").c_str(), 0755);
}

TEST(VolumeListTest, WritableVisibleVolumesInMountTableOrder)
{
    const MountTable table = MountTable::parse(
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "23 22 0:5 / /proc rw - proc proc rw\n"
        "40 22 8:17 / /nonexistent/tarnwick/Stick rw - vfat /dev/sdb1 rw\n"
        "41 22 11:0 / /nonexistent/tarnwick/DVD ro - iso9660 /dev/sr0 ro\n"
        "42 22 8:33 / /nonexistent/tarnwick/.hidden rw - vfat /dev/sdc1 rw\n");
    const std::vector<URL> volumes = VolumeList::buildRWVolumeURLList(table);
    std::vector<std::string> paths;
    for (const URL &volume : volumes)
        paths.push_back(volume.path());
    EXPECT_EQ(paths, (std::vector<std::string>{"/", "/nonexistent/tarnwick/Stick"}));
}
