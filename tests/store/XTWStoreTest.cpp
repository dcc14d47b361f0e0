#include "Alert.h"
#include "Beep.h"
#include "LogCapture.h"
#include "Md5.h"
#include "MonotonicClock.h"
#include "StoreTestEnvironment.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "XTWStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;
using CleanMode = XFSDiskOrDirectory::CleanMode;

namespace
{
std::vector<std::string> storageKeys(const XTWStore::Records &records)
{
    std::vector<std::string> keys;
    for (const XFSDiskOrDirectory &record : records)
        keys.push_back(record.storageKey());
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool hasBlackListName(const XFSDiskOrDirectory &record, const std::string &name)
{
    const auto item = record.findFlag(md5(name));
    return item && item->type() == XFSDetailsFlagItem::ItemType::blacklist && item->fsName() == name;
}

Value preferencesEntryOnDisk(const StoreTestEnvironment &environment, const std::string &key)
{
    const Dictionary root = environment.defaultsOnDisk();
    const Dictionary &preferences = *root.at("preferences").asDictionary();
    const auto found = preferences.find(key);
    return found == preferences.end() ? Value() : found->second;
}

ino_t inodeOf(const std::string &path)
{
    struct stat status
    {
    };
    return stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

class XTWStoreTest : public ::testing::Test
{
protected:
    std::string folder(const std::string &volume, const std::string &rest)
    {
        const std::string path = m_environment.volume(volume) + "/" + rest;
        std::filesystem::create_directories(path);
        return path;
    }

    UserDefaults &defaults() { return UserDefaults::standardUserDefaults(); }

    StoreTestEnvironment m_environment;
};
}

TEST_F(XTWStoreTest, FirstLaunchMakesBothBuiltInsAndMarksTheMigrationsDone)
{
    const std::shared_ptr<XTWStore> store = XTWStore::create();
    EXPECT_TRUE(store->userSuppliedDisksOrDirectories().empty());
    EXPECT_EQ(store->detailsForDisks().storageKey(), "disks");
    EXPECT_EQ(store->detailsForServers().storageKey(), "servers");
    EXPECT_EQ(storageKeys(store->builtInDisksOrDirectories()), (std::vector<std::string>{"disks", "servers"}));
    EXPECT_TRUE(defaults().boolForKey("mergeBlackListIntoAllDetailsOnce"));
    EXPECT_TRUE(defaults().boolForKey("updatedNeverDeleteItemsForNewPrefsFormat"));
    EXPECT_FALSE(store->needsToKeepRunning());

    const Dictionary onDisk = m_environment.sourceItemsOnDisk();
    EXPECT_EQ(onDisk.size(), 2u);
    EXPECT_TRUE(onDisk.contains("disks"));
    EXPECT_TRUE(onDisk.contains("servers"));
}

TEST_F(XTWStoreTest, OlderSettingsAreMigratedInOrder)
{
    m_environment.source().setMissing("/Volumes/Gone");
    m_environment.installDefaultsFixture("defaults-old-format.plist");
    LogCapture log;
    const std::shared_ptr<XTWStore> store = XTWStore::create();

    // Records: the unreadable one is skipped with its key logged, the non-dictionary silently.
    const std::string stick = m_environment.volume("STICK") + "-STICK-msdos-4096-2000)";
    const std::string mac = m_environment.volume("MacDisk") + "-MacDisk-ext4-4096-5000)";
    EXPECT_EQ(storageKeys(store->userSuppliedDisksOrDirectories()),
              (std::vector<std::string>{"/Volumes/Gone-Gone-msdos-512-77)", mac, stick}));
    EXPECT_EQ(log.countContaining("Bad details with storage key: broken"), 1u);
    EXPECT_EQ(log.countContaining("notADictionary"), 0u);

    // The stored built-ins became the built-ins, with their state.
    EXPECT_EQ(store->detailsForDisks().mode(), CleanMode::alwaysClean);
    EXPECT_FALSE(store->detailsForDisks().findFlag("dsstore")->enabled());
    EXPECT_NE(store->detailsForDisks().findFlag("dsstore")->displayName(), "Old .DS_Store text");
    EXPECT_EQ(store->detailsForServers().mode(), CleanMode::askToClean);
    EXPECT_TRUE(store->needsToKeepRunning());

    // Each record went through its own rules.
    const XFSDiskOrDirectory stickRecord = *store->diskOrDirectoryDetailsForKey(stick);
    EXPECT_EQ(stickRecord.findFlag("appledouble_netatalk")->type(), XFSDetailsFlagItem::ItemType::folderToDelete);
    EXPECT_FALSE(stickRecord.findFlag("Xattrs")->enabled());
    EXPECT_TRUE(store->diskOrDirectoryDetailsForKey(mac)->findFlag("Xattrs")->enabled());

    // The never-delete lists moved to the top level; an empty one did not.
    EXPECT_EQ(defaults().stringForKey("neverDeleteFileExtensions"), "psd ai");
    EXPECT_EQ(XTWStore::neverDeleteFileExtensions(), "psd ai");
    EXPECT_EQ(XTWStore::neverDeleteMacOSTypes(), "");

    // The old black list is in every record, built-ins included; a record's own items stay.
    XTWStore::Records all = store->builtInDisksOrDirectories();
    for (const XFSDiskOrDirectory &record : store->userSuppliedDisksOrDirectories())
        all.push_back(record);
    for (const XFSDiskOrDirectory &record : all) {
        EXPECT_TRUE(hasBlackListName(record, "node_modules") && hasBlackListName(record, "Desktop DB"))
            << record.storageKey();
        EXPECT_FALSE(record.findFlag(md5("node_modules"))->enabled());
    }
    EXPECT_EQ(stickRecord.blackListItemsEnabled(), std::vector<std::string>{"thumbs.cache"});
    EXPECT_TRUE(defaults().boolForKey("mergeBlackListIntoAllDetailsOnce"));
    EXPECT_TRUE(defaults().boolForKey("updatedNeverDeleteItemsForNewPrefsFormat"));

    // The merge is on disk, and every other entry of "preferences" with it.
    const Dictionary onDisk = m_environment.sourceItemsOnDisk();
    EXPECT_EQ(onDisk.size(), 5u);
    const Array &stickItems = *onDisk.at(stick).asDictionary()->at("detailsItems").asArray();
    EXPECT_TRUE(std::any_of(stickItems.begin(), stickItems.end(), [](const Value &item) {
        return item.asDictionary()->at("uniqueKey") == Value(md5("node_modules"));
    }));
    EXPECT_EQ(preferencesEntryOnDisk(m_environment, "somethingElse"), Value("kept"));
    EXPECT_TRUE(preferencesEntryOnDisk(m_environment, "blacklistFolders").asArray());
    EXPECT_EQ(XTWStore::whiteList(), std::vector<std::string>{m_environment.volume("STICK") + "/Keep*"});
}

TEST_F(XTWStoreTest, MigrationsRunOnce)
{
    m_environment.source().setMissing("/Volumes/Gone");
    m_environment.installDefaultsFixture("defaults-old-format.plist");
    XTWStore::create();

    // A later edit of the old places is not taken over again.
    Dictionary preferences = *TarnwickStore::generalPreferences();
    preferences["neverDeleteFileExtensions"] = Value("doc");
    preferences["blacklistFolders"] = Value(Array{Value(Dictionary{{"name", Value("later")}})});
    TarnwickStore::updateGeneralPreferences(preferences);

    const std::shared_ptr<XTWStore> again = XTWStore::create();
    EXPECT_EQ(XTWStore::neverDeleteFileExtensions(), "psd ai");
    EXPECT_FALSE(hasBlackListName(again->detailsForDisks(), "later"));
    EXPECT_TRUE(hasBlackListName(again->detailsForDisks(), "node_modules"));
}

TEST_F(XTWStoreTest, FailedSaveKeepsTheOldFileAndTheMergeForNextTime)
{
    // The temporary file of an atomic write cannot be made beside a file whose name is this long.
    const std::string file = m_environment.homeFile(std::string(245, 'p') + ".plist");
    m_environment.source().setMissing("/Volumes/Gone");
    m_environment.installDefaultsFixture("defaults-old-format.plist", file);
    const std::string before = readFile(file);

    LogCapture log;
    const std::shared_ptr<XTWStore> store = XTWStore::create();
    EXPECT_TRUE(hasBlackListName(store->detailsForDisks(), "node_modules"));
    EXPECT_FALSE(defaults().boolForKey("mergeBlackListIntoAllDetailsOnce"));
    EXPECT_EQ(log.countContaining("The disk and folder settings could not be written"), 1u);
    EXPECT_EQ(readFile(file), before);
    EXPECT_FALSE(store->save());
    EXPECT_EQ(readFile(file), before);
}

TEST_F(XTWStoreTest, AddingTheSameVolumeTwiceChangesNothing)
{
    const std::shared_ptr<XTWStore> store = XTWStore::create();
    auto posted = std::make_shared<std::vector<std::string>>();
    TarnwickStore::sharedInstance().listenForChanges([posted](const Notification &notification) {
        const auto object = notification.userInfo.find(TarnwickStore::changedObjectKey);
        posted->push_back(
            object != notification.userInfo.end() && object->second.asString() ? *object->second.asString() : "");
    });

    const std::string path = folder("STICK", "Photos");
    EXPECT_TRUE(store->addDetailsForVolumeAtPath(path, CleanMode::askToClean));
    const std::string saved = readFile(m_environment.defaultsFile());
    EXPECT_FALSE(store->addDetailsForVolumeAtPath(path, CleanMode::alwaysClean));

    ASSERT_EQ(store->userSuppliedDisksOrDirectories().size(), 1u);
    EXPECT_EQ(store->userSuppliedDisksOrDirectories()[0].mode(), CleanMode::askToClean);
    EXPECT_EQ(*posted, std::vector<std::string>{path + "-STICK-msdos-4096-2000)"});
    EXPECT_EQ(readFile(m_environment.defaultsFile()), saved);
}

TEST_F(XTWStoreTest, ADuplicateBeepsThroughTheRegisteredPlayerAndNeedsNoWidgets)
{
    const std::shared_ptr<XTWStore> store = XTWStore::create();
    const std::string path = folder("STICK", "Twice");
    ASSERT_TRUE(store->addDetailsForVolumeAtPath(path, CleanMode::askToClean));
    if (std::getenv("TARNWICK_TEST_WITHOUT_WIDGETS")) {
        // A core application only, no player: the duplicate is refused silently, and an alert
        // ends with its last, most cautious button instead of making a window.
        EXPECT_FALSE(store->addDetailsForVolumeAtPath(path, CleanMode::alwaysClean));
        Alert::setPresenter(nullptr);
        EXPECT_EQ(Alert::alert("Message", "Choose...", std::string("Cancel"), std::nullopt, std::nullopt).runModal(),
                  Alert::firstButtonReturn + 1);
        return;
    }
    int beeps = 0;
    Beep::setPlayer([&beeps] { ++beeps; });
    EXPECT_FALSE(store->addDetailsForVolumeAtPath(path, CleanMode::alwaysClean));
    Beep::setPlayer(nullptr);
    EXPECT_EQ(beeps, 1);

    // The same test again in a process with a core application only.
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TARNWICK_TEST_WITHOUT_WIDGETS", "1");
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(),
                  {"--gtest_filter=XTWStoreTest.ADuplicateBeepsThroughTheRegisteredPlayerAndNeedsNoWidgets"});
    ASSERT_TRUE(process.waitForFinished(60000));
    const std::string output = process.readAllStandardOutput().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << output << process.readAllStandardError().toStdString();
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

TEST_F(XTWStoreTest, NewRecordsTakeTheCurrentBlackList)
{
    const std::shared_ptr<XTWStore> store = XTWStore::create();
    XFSDiskOrDirectory disks = store->detailsForDisks();
    disks.update(std::vector<BlackListItem>{{md5("junk"), "junk"}});
    store->update(disks);
    ASSERT_EQ(store->blackListItems(), (std::vector<BlackListItem>{{md5("junk"), "junk"}}));

    ASSERT_TRUE(store->addDetailsForVolumeAtPath(folder("STICK", "New"), CleanMode::alwaysClean));
    XFSDiskOrDirectory record = store->userSuppliedDisksOrDirectories()[0];
    EXPECT_TRUE(hasBlackListName(record, "junk"));

    // Of two items of one key the first met wins.
    record.update(std::vector<BlackListItem>{{md5("junk"), "renamed"}, {md5("b"), "b"}});
    store->update(record);
    EXPECT_EQ(store->blackListItems(), (std::vector<BlackListItem>{{md5("junk"), "junk"}, {md5("b"), "b"}}));
}

TEST_F(XTWStoreTest, BurstOfUpdatesEndsInOneSaveWithEveryChange)
{
    const std::shared_ptr<XTWStore> store = XTWStore::create();
    // The throttle measures ages on this clock; the save itself waits on a real timer.
    static std::atomic<MonotonicClock::TimePoint> now;
    now = std::chrono::steady_clock::now();
    MonotonicClock::setNowForTesting([] { return now.load(); });
    const std::shared_ptr<void> restoreClock(nullptr, [](void *) { MonotonicClock::setNowForTesting({}); });

    const std::string file = m_environment.defaultsFile();
    const ino_t before = inodeOf(file);
    QElapsedTimer elapsed;
    elapsed.start();
    store->update(store->detailsForDisks().copyWithNewCleanMode(CleanMode::askToClean));
    now = now.load() + 100ms;
    store->update(store->detailsForServers().copyWithNewCleanMode(CleanMode::alwaysClean));
    EXPECT_EQ(inodeOf(file), before);

    const auto saved = [this] {
        const Dictionary items = m_environment.sourceItemsOnDisk();
        return items.at("disks").asDictionary()->at("mode") == Value(1)
               && items.at("servers").asDictionary()->at("mode") == Value(2);
    };
    EXPECT_TRUE(runEventLoopUntil(saved));
    EXPECT_GE(elapsed.elapsed(), 240);
    const ino_t afterSave = inodeOf(file);
    EXPECT_NE(afterSave, before);
    runEventLoopFor(400ms);
    EXPECT_EQ(inodeOf(file), afterSave);
}

TEST_F(XTWStoreTest, ReadersOnOtherThreadsSeeWholeRecords)
{
    const std::shared_ptr<XTWStore> store = XTWStore::create();
    const std::string path = folder("STICK", "Busy");
    ASSERT_TRUE(store->addDetailsForVolumeAtPath(path, CleanMode::alwaysClean));
    const XFSDiskOrDirectory record = store->userSuppliedDisksOrDirectories()[0];
    const std::size_t flagCount = record.detailsFlags().size();

    std::atomic<bool> stop = false;
    std::atomic<int> bad = 0;
    std::atomic<int> reads = 0;
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const auto found = store->detailsForURL(URL::fileURLWithPath(path), false, false);
                const XTWStore::Records records = store->userSuppliedDisksOrDirectories();
                if (!found || found->detailsFlags().size() != flagCount || records.size() != 1)
                    ++bad;
                ++reads;
            }
        });
    }
    for (int i = 0; i < 300; ++i)
        store->update(record.copyWithNewCleanMode(i % 2 ? CleanMode::askToClean : CleanMode::alwaysClean));
    runEventLoopUntil([&reads] { return reads > 200; });
    stop = true;
    for (std::thread &reader : readers)
        reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(reads, 0);
}

TEST_F(XTWStoreTest, SharedStoreIsMadeOnceWithoutReenteringItself)
{
    m_environment.source().setMissing("/Volumes/Gone");
    m_environment.installDefaultsFixture("defaults-old-format.plist");
    XTWStore &shared = XTWStore::shared();
    EXPECT_EQ(&shared, &XTWStore::shared());
    // When an earlier test in this process made the store, it read other defaults.
    shared.load();
    EXPECT_FALSE(XTWStore::allBlackListItems().empty());
}
