#include "../store/StoreTestEnvironment.h"
#include "Alert.h"
#include "DiscRecordingWatcher.h"
#include "MainThread.h"
#include "ModifierKeys.h"
#include "MountTable.h"
#include "PretendBurningMachine.h"
#include "PreferencesSupport.h"
#include "ProgressDisplayFactory.h"
#include "RecordingProgress.h"
#include "ScopedMount.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "XEngine.h"
#include "XFSDetailsFlagItemKeys.h"
#include "XTWStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using CleanMode = XFSDiskOrDirectory::CleanMode;

namespace
{
struct ShownAlert
{
    std::string messageText;
    std::string informativeText;
    Alert::Style style;
    std::vector<std::string> buttons;
    bool showsSuppressionButton;
};

// Answers every alert with its first button, ticking the suppression box when told to.
class ScriptedAlerts : public AlertPresenter
{
public:
    std::size_t present(Alert &alert) override
    {
        shown.push_back({alert.messageText(), alert.informativeText(), alert.style(), alert.buttonTitles(),
                         alert.showsSuppressionButton()});
        if (tickSuppressionBox)
            alert.setSuppressionButtonChecked(true);
        return 0;
    }

    std::vector<ShownAlert> shown;
    bool tickSuppressionBox = false;
};

class FinishingProgress : public RecordingProgress
{
public:
    void finishedCleaning() override { finished = true; }
    std::atomic<bool> finished{false};
};

// Stands in for the progress windows: keeps each run's engine and display.
class ScriptedWindows : public ProgressDisplayFactory
{
public:
    bool bringWindowCleaningRootToFront(const URL &) override { return false; }
    std::shared_ptr<XProgressProtocol> makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                      const URL &) override
    {
        engines.push_back(std::dynamic_pointer_cast<XEngine>(parent));
        progresses.push_back(std::make_shared<FinishingProgress>());
        return progresses.back();
    }

    bool allFinished(std::size_t runs) const
    {
        return progresses.size() == runs
               && std::all_of(progresses.begin(), progresses.end(), [](const auto &p) { return p->finished.load(); });
    }

    std::vector<std::shared_ptr<XEngine>> engines;
    std::vector<std::shared_ptr<FinishingProgress>> progresses;
};

bool hasAttribute(const std::string &path, const std::string &name)
{
    return lgetxattr(path.c_str(), name.c_str(), nullptr, 0) >= 0;
}

// The volume facts of another source, except that the first question about the folder asked on
// a thread other than the main thread waits there until the main thread lets it go.
class HeldVolumeFacts : public VolumeFactsSource
{
public:
    HeldVolumeFacts(std::shared_ptr<const VolumeFactsSource> facts, std::string folder)
        : m_facts(std::move(facts)), m_folder(std::move(folder))
    {
    }

    std::optional<VolumeFacts> factsForPath(const std::string &path) const override
    {
        hold(path);
        return m_facts->factsForPath(path);
    }
    bool probeNativeExtendedAttributes(const std::string &mountPoint) const override
    {
        return m_facts->probeNativeExtendedAttributes(mountPoint);
    }
    VolumeLocation locate(const std::string &path) const override
    {
        hold(path);
        return m_facts->locate(path);
    }

    // Waits (a while at most) until a question is held.
    bool waitUntilHeld() const
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_held; });
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    void hold(std::string path) const
    {
        while (path.size() > 1 && path.ends_with('/'))
            path.pop_back();
        if (path != m_folder || MainThread::isCurrent())
            return;
        std::unique_lock lock(m_mutex);
        m_held = true;
        m_changed.notify_all();
        m_changed.wait_for(lock, std::chrono::seconds(60), [this] { return m_released; });
    }

    const std::shared_ptr<const VolumeFactsSource> m_facts;
    const std::string m_folder;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    mutable bool m_held = false;
    bool m_released = false;
};

class XEngineEntryPointsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        XTWStore::shared().load();
        Alert::setPresenter(m_alerts);
        ProgressDisplayFactory::setCurrent(m_windows);
        ModifierKeys::setFlagsForTesting(0);
        runEventLoopFor(20ms);
        m_activeBefore = XEngine::activeEngines().size();
    }

    void TearDown() override
    {
        // What a window does when it closes.
        for (const std::shared_ptr<XEngine> &engine : m_windows->engines)
            engine->progressWindowClosed();
        runEventLoopUntil([this] { return XEngine::activeEngines().size() == m_activeBefore; });
        ModifierKeys::setFlagsForTesting(std::nullopt);
        ProgressDisplayFactory::setCurrent(nullptr);
        Alert::setPresenter(nullptr);
    }

    // A folder on the scripted ext4 disk (which no catch-all record governs), holding a .DS_Store.
    std::string folderWithMetadata(const std::string &name)
    {
        const std::string folder = m_environment.volume("MacDisk") + "/" + name;
        fs::create_directories(folder);
        writeFile(folder + "/.DS_Store", "x");
        return folder;
    }

    // The folder's own record, else the nearest one above it.
    std::optional<XFSDiskOrDirectory> recordGoverning(const std::string &path)
    {
        return XTWStore::shared().detailsForURL(URL::fileURLWithPath(path), false, false);
    }

    bool waitForRuns(std::size_t runs)
    {
        return runEventLoopUntil([&] { return m_windows->allFinished(runs); });
    }

    StoreTestEnvironment m_environment;
    std::shared_ptr<ScriptedAlerts> m_alerts = std::make_shared<ScriptedAlerts>();
    std::shared_ptr<ScriptedWindows> m_windows = std::make_shared<ScriptedWindows>();
    std::size_t m_activeBefore = 0;
};
}

TEST_F(XEngineEntryPointsTest, ChosenFoldersGetARecordThatIsAlwaysCleaned)
{
    const std::string fresh = folderWithMetadata("Fresh");
    const std::string ignored = folderWithMetadata("Ignored");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(ignored, CleanMode::ignore));
    const std::string file = fresh + "/notes.txt";
    writeFile(file, "x");

    XEngine::cleanInResponseToUserRequest(
        {URL::fileURLWithPath(fresh), URL::fileURLWithPath(ignored), URL::fileURLWithPath(file)}, false);

    ASSERT_TRUE(recordGoverning(fresh));
    EXPECT_EQ(recordGoverning(fresh)->mode(), CleanMode::alwaysClean);
    EXPECT_EQ(recordGoverning(fresh)->path(), fresh);
    ASSERT_TRUE(recordGoverning(ignored));
    EXPECT_EQ(recordGoverning(ignored)->mode(), CleanMode::alwaysClean);
    EXPECT_EQ(recordGoverning(ignored)->path(), ignored);
    EXPECT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().size(), 2u) << "a file gets no record of its own";
    EXPECT_TRUE(m_alerts->shown.empty());

    ASSERT_TRUE(waitForRuns(1));
    EXPECT_FALSE(fileExists(fresh + "/.DS_Store"));
    EXPECT_FALSE(fileExists(ignored + "/.DS_Store"));
    EXPECT_TRUE(fileExists(file));

    const std::shared_ptr<XEngine> engine = m_windows->engines.at(0);
    EXPECT_TRUE(engine->manuallyCleaning());
    EXPECT_FALSE(engine->unmountAfterClean());
    EXPECT_FALSE(engine->isCleaningVolumeBeforeEject());
    EXPECT_FALSE(engine->scheduledClean());
    EXPECT_FALSE(engine->simulation());
}

TEST_F(XEngineEntryPointsTest, AFolderInsideAnIgnoredFolderGetsItsOwnRecord)
{
    const std::string parent = folderWithMetadata("Projects");
    const std::string child = folderWithMetadata("Projects/Old");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(parent, CleanMode::ignore));

    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(child)}, false);

    ASSERT_TRUE(recordGoverning(parent));
    EXPECT_EQ(recordGoverning(parent)->path(), parent);
    EXPECT_EQ(recordGoverning(parent)->mode(), CleanMode::ignore) << "the folder the user set aside stays so";
    ASSERT_TRUE(recordGoverning(child));
    EXPECT_EQ(recordGoverning(child)->path(), child);
    EXPECT_EQ(recordGoverning(child)->mode(), CleanMode::alwaysClean);
    ASSERT_TRUE(waitForRuns(1));
    EXPECT_FALSE(fileExists(child + "/.DS_Store"));
    EXPECT_TRUE(fileExists(parent + "/.DS_Store"));
}

TEST_F(XEngineEntryPointsTest, AFolderNamedThroughALinkOrDotDotIsCleanedAndKeptByItsRealPath)
{
    const std::string folder = folderWithMetadata("Real");
    const std::string other = folderWithMetadata("Other");
    const std::string link = folder + "-link";
    ASSERT_EQ(symlink(folder.c_str(), link.c_str()), 0);

    // The link the user named is followed, once; ".." goes up from where the kernel is.
    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(link), URL::fileURLWithPath(folder + "/../Other")},
                                          false);

    ASSERT_TRUE(waitForRuns(1));
    EXPECT_FALSE(fileExists(folder + "/.DS_Store"));
    EXPECT_FALSE(fileExists(other + "/.DS_Store"));
    std::vector<std::string> recordPaths;
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories())
        recordPaths.push_back(record.path());
    std::sort(recordPaths.begin(), recordPaths.end());
    EXPECT_EQ(recordPaths, (std::vector<std::string>{other, folder})) << "records keep the folders' real paths";
    EXPECT_TRUE(fileExists(link)) << "the link itself stays";
}

TEST_F(XEngineEntryPointsTest, AFolderChangedBetweenBeingNamedAndItsRunIsNotCleanedThroughItsPath)
{
    const std::string parent = m_environment.volume("MacDisk") + "/Team";
    fs::create_directories(parent);
    const std::string renamed = folderWithMetadata("Team/Project");
    const std::string linked = folderWithMetadata("Linked");
    TemporaryDirectory elsewhere;
    for (const std::string &folder : {elsewhere.file("Team/Project"), elsewhere.file("Target")}) {
        fs::create_directories(folder);
        writeFile(folder + "/.DS_Store", "x");
    }

    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(renamed), URL::fileURLWithPath(linked)}, false);
    // Before the run starts: the folder above the first renamed and another folder put in its
    // place; the second swapped for a link to a folder elsewhere.
    fs::rename(parent, parent + ".moved");
    fs::rename(elsewhere.file("Team"), parent);
    fs::rename(linked, linked + ".moved");
    fs::create_directory_symlink(elsewhere.file("Target"), linked);

    ASSERT_TRUE(waitForRuns(1));
    EXPECT_TRUE(fileExists(renamed + "/.DS_Store")) << "the folder now at the first's path";
    EXPECT_TRUE(fileExists(elsewhere.file("Target/.DS_Store"))) << "the folder the link leads to";
    const std::vector<std::string> lines = m_windows->progresses.front()->lines();
    for (const std::string &line : {"Not cleaned: " + renamed + ": the folder kept clean there was moved or replaced",
                                    "Not cleaned: " + linked + ": Too many levels of symbolic links"})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
}

TEST_F(XEngineEntryPointsTest, AFolderAlreadyAlwaysCleanedKeepsItsRecord)
{
    const std::string folder = folderWithMetadata("Kept");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(folder, CleanMode::alwaysClean));
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "simulation");

    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(folder)}, false);

    EXPECT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().size(), 1u);
    ASSERT_TRUE(waitForRuns(1));
    EXPECT_TRUE(m_windows->engines.at(0)->simulation());
    EXPECT_TRUE(fileExists(folder + "/.DS_Store")) << "a simulation deletes nothing";
}

TEST_F(XEngineEntryPointsTest, AGivenShiftOverridesTheKeyboard)
{
    const std::string folder = folderWithMetadata("Attributes");
    const std::string file = folder + "/photo.jpg";
    writeFile(file, "x");
    ASSERT_EQ(lsetxattr(file.c_str(), "user.com.apple.metadata:kMDItemWhereFroms", "x", 1, 0), 0);
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "suppressXAttrWarning");

    // Shift held on the keyboard, but the caller says it was not: the folder run.
    ModifierKeys::setFlagsForTesting(ModifierKeys::shiftKeyMask);
    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(folder)}, false);
    ASSERT_TRUE(waitForRuns(1));
    EXPECT_FALSE(fileExists(folder + "/.DS_Store"));
    EXPECT_TRUE(hasAttribute(file, "user.com.apple.metadata:kMDItemWhereFroms"));

    // No Shift on the keyboard, but the caller says it was held: the attribute run.
    writeFile(folder + "/.DS_Store", "x");
    ModifierKeys::setFlagsForTesting(0);
    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(folder)}, true);
    ASSERT_TRUE(waitForRuns(2));
    EXPECT_FALSE(hasAttribute(file, "user.com.apple.metadata:kMDItemWhereFroms"));
    EXPECT_TRUE(fileExists(folder + "/.DS_Store"));

    // Nothing given: the keyboard decides.
    ASSERT_EQ(lsetxattr(file.c_str(), "user.com.apple.lastuseddate#PS", "x", 1, 0), 0);
    ModifierKeys::setFlagsForTesting(ModifierKeys::shiftKeyMask);
    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(folder)}, std::nullopt);
    ASSERT_TRUE(waitForRuns(3));
    EXPECT_FALSE(hasAttribute(file, "user.com.apple.lastuseddate#PS"));
    EXPECT_TRUE(fileExists(folder + "/.DS_Store"));
}

TEST_F(XEngineEntryPointsTest, AnEmptyListStartsNothingAndLeavesNoEngineBehind)
{
    XEngine::cleanInResponseToUserRequest({}, false);
    XEngine::cleanInResponseToUserRequest({}, true);
    XEngine::cleanScheduled({});
    runEventLoopFor(100ms);

    EXPECT_EQ(XEngine::activeEngines().size(), m_activeBefore);
    EXPECT_TRUE(m_windows->engines.empty());
    EXPECT_TRUE(m_alerts->shown.empty());
}

TEST_F(XEngineEntryPointsTest, AScheduledCleanPassesNoGuardAndChangesNoRecord)
{
    const std::string cleaned = folderWithMetadata("Scheduled");
    ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(cleaned, CleanMode::alwaysClean));
    const std::string unknown = folderWithMetadata("Unknown");

    XEngine::cleanScheduled({URL::fileURLWithPath(cleaned), URL::fileURLWithPath(unknown)});

    ASSERT_TRUE(waitForRuns(1));
    EXPECT_FALSE(fileExists(cleaned + "/.DS_Store"));
    EXPECT_TRUE(fileExists(unknown + "/.DS_Store")) << "a folder without a record is not cleaned";
    EXPECT_FALSE(recordGoverning(unknown));
    EXPECT_TRUE(m_alerts->shown.empty());
    const std::shared_ptr<XEngine> engine = m_windows->engines.at(0);
    EXPECT_TRUE(engine->manuallyCleaning());
    EXPECT_TRUE(engine->scheduledClean());
    EXPECT_FALSE(engine->unmountAfterClean());
}

TEST_F(XEngineEntryPointsTest, AScheduledCleanWithOptionHeldUnmountsAtTheEnd)
{
    if (!isRoot())
        GTEST_SKIP() << "unmounting needs a mount (run as root)";
    TemporaryDirectory mounts;
    fs::create_directories(mounts.file("Card"));
    const ScopedMount card("tmpfs", mounts.file("Card"));
    ASSERT_TRUE(card.isMounted()) << card.failure();

    ModifierKeys::setFlagsForTesting(ModifierKeys::optionKeyMask);
    XEngine::cleanScheduled({URL::fileURLWithPath(mounts.file("Card"))});
    ModifierKeys::setFlagsForTesting(0);

    ASSERT_TRUE(waitForRuns(1));
    EXPECT_TRUE(m_windows->engines.at(0)->unmountAfterClean());
    EXPECT_TRUE(runEventLoopUntil([&] { return !MountTable::current().mountAt(mounts.file("Card")); }));
}

TEST_F(XEngineEntryPointsTest, CleaningAllVolumesUsesABackgroundEngineThatLeavesWhenDone)
{
    XEngine::cleanAllVolumes();
    runEventLoopFor(100ms);

    EXPECT_TRUE(runEventLoopUntil([this] { return XEngine::activeEngines().size() == m_activeBefore; }));
    EXPECT_TRUE(m_windows->engines.empty());
}

TEST_F(XEngineEntryPointsTest, CleaningAllVolumesLeavesTheMainThreadFreeWhileTheRootsAreCleaned)
{
    const std::string root = m_environment.volume("STICK");
    fs::create_directories(root + "/.Trashes/501");
    XFSDiskOrDirectory disks = XTWStore::shared().detailsForDisks();
    disks.setMode(CleanMode::alwaysClean);
    XTWStore::shared().update(disks);
    // The scripted stick is the one mounted volume; the clean's first question about it waits.
    struct Sources
    {
        std::shared_ptr<const VolumeFactsSource> scripted = VolumeFactsSource::current();
        ~Sources()
        {
            VolumeFactsSource::setCurrentForTesting(scripted);
            MountTable::setSourceForTesting(nullptr);
        }
    } sources;
    const auto held = std::make_shared<HeldVolumeFacts>(sources.scripted, root);
    MountTable::setSourceForTesting(
        std::make_shared<ScriptedMountInfoSource>("50 22 8:97 / " + root + " rw shared:30 - vfat /dev/sdf1 rw\n"));
    VolumeFactsSource::setCurrentForTesting(held);

    XEngine::cleanAllVolumes();

    // The main thread is back while the clean has begun and waits on its own thread.
    const bool heldWhileMainRuns = held->waitUntilHeld();
    EXPECT_TRUE(heldWhileMainRuns) << "the clean ran on the main thread";
    EXPECT_TRUE(fileExists(root + "/.Trashes"));
    EXPECT_TRUE(runEventLoopUntil([this] { return XEngine::activeEngines().size() == m_activeBefore + 1; }));
    const std::weak_ptr<XEngine> engine =
        XEngine::activeEngines().empty() ? nullptr : XEngine::activeEngines().back();
    held->release();

    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(root + "/.Trashes"); }));
    EXPECT_TRUE(runEventLoopUntil([&] { return engine.expired(); })) << "the engine leaves once it is done";
    EXPECT_EQ(XEngine::activeEngines().size(), m_activeBefore);
    EXPECT_TRUE(m_windows->engines.empty());
}

TEST_F(XEngineEntryPointsTest, ReadOnlyVolumesAreNamedAndStopTheRequest)
{
    if (!isRoot())
        GTEST_SKIP() << "read-only volumes need mounts (run as root)";
    TemporaryDirectory mounts;
    fs::create_directories(mounts.file("A"));
    fs::create_directories(mounts.file("B"));
    const ScopedMount a("tmpfs", mounts.file("A"), true);
    const ScopedMount b("tmpfs", mounts.file("B"), true);
    ASSERT_TRUE(a.isMounted()) << a.failure();
    ASSERT_TRUE(b.isMounted()) << b.failure();
    const std::string writable = folderWithMetadata("Writable");

    EXPECT_FALSE(XEngine::warningIfAnyVolumesAreReadOnly({URL::fileURLWithPath(writable)}));
    EXPECT_TRUE(m_alerts->shown.empty());

    const std::vector<URL> chosen{URL::fileURLWithPath(mounts.file("A")), URL::fileURLWithPath(writable),
                                  URL::fileURLWithPath(mounts.file("B"))};
    XEngine::cleanInResponseToUserRequest(chosen, false);

    ASSERT_EQ(m_alerts->shown.size(), 1u);
    const ShownAlert &alert = m_alerts->shown[0];
    EXPECT_EQ(alert.messageText, "Sorry, Tarnwick can't clean the disk \"A,B\" as it is locked or read only.");
    EXPECT_EQ(alert.informativeText, "Please unlock the disk or make the disk writable and try again.");
    EXPECT_EQ(alert.style, Alert::Style::critical);
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(alert.showsSuppressionButton);

    EXPECT_FALSE(recordGoverning(writable)) << "a stopped request changes no record";
    runEventLoopFor(100ms);
    EXPECT_TRUE(m_windows->engines.empty());
    EXPECT_TRUE(fileExists(writable + "/.DS_Store"));
}

TEST_F(XEngineEntryPointsTest, NothingIsCleanedWhileADiscIsBurnt)
{
    std::optional<PretendBurningMachine> machine(std::in_place);

    const std::string folder = folderWithMetadata("Burning");
    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(folder)}, false);
    const std::vector<ShownAlert> shown = m_alerts->shown;

    // Leave the shared watcher with the drive gone.
    machine->removeDrive();
    EXPECT_FALSE(DiscRecordingWatcher::shared().isBusyBurning());
    machine.reset();

    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].messageText, "Sorry, Tarnwick can't clean right now.");
    EXPECT_EQ(shown[0].informativeText, "It appears your computer is busy burning a CD or DVD. Please try cleaning the "
                                        "selected item again after the burn has completed.");
    EXPECT_EQ(shown[0].style, Alert::Style::informational);
    EXPECT_EQ(shown[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(recordGoverning(folder));
    runEventLoopFor(100ms);
    EXPECT_TRUE(m_windows->engines.empty());
    EXPECT_TRUE(fileExists(folder + "/.DS_Store"));
}

namespace
{
// The scripted disks plus an AFP share whose records clean ".AppleDouble" folders.
class AfpNoteTest : public XEngineEntryPointsTest
{
protected:
    void SetUp() override
    {
        m_share = m_environment.volumesFolder() + "/AFP";
        fs::create_directories(m_share + "/Projects");
        auto source = std::make_shared<ScriptedVolumeFactsSource>(
            m_environment.fixtureText("mountinfo.txt") + "60 22 0:80 / " + m_share
            + " rw shared:40 - afpfs afp://server/share rw\n");
        source->setStatfs("/", {4096, 250000});
        source->setProbeAnswer("/", true);
        source->setStatfs(m_environment.volume("MacDisk"), {4096, 5000});
        source->setProbeAnswer(m_environment.volume("MacDisk"), true);
        source->setStatfs(m_share, {4096, 800});
        m_scopedSource = std::make_unique<ScopedVolumeFactsSource>(source);
        XEngineEntryPointsTest::SetUp();
    }

    void TearDown() override
    {
        XEngineEntryPointsTest::TearDown();
        m_scopedSource.reset();
    }

    void addShareRecord(bool netatalkEnabled)
    {
        XTWStore &store = XTWStore::shared();
        ASSERT_TRUE(store.addDetailsForVolumeAtPath(m_share, CleanMode::alwaysClean));
        XFSDiskOrDirectory record = *recordGoverning(m_share);
        const std::string key = rawValue(XFSDetailsFlagItemKeys::appledouble_netatalk);
        ASSERT_TRUE(record.findFlag(key));
        record.updateFlags({record.findFlag(key)->withEnabled(netatalkEnabled)});
        store.update(record);
    }

    std::vector<URL> shareAndOthers()
    {
        return {URL::fileURLWithPath(m_share), URL::fileURLWithPath(folderWithMetadata("Local")),
                URL::fileURLWithPath(m_share + "/Projects")};
    }

    std::string m_share;
    std::unique_ptr<ScopedVolumeFactsSource> m_scopedSource;
};
}

TEST_F(AfpNoteTest, ShownForEveryMatchingItemUntilSuppressed)
{
    addShareRecord(true);
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();

    XEngine::warnIfTryingToDeleteDotAppleDoubleFromAFP(shareAndOthers());
    ASSERT_EQ(m_alerts->shown.size(), 2u);
    for (const ShownAlert &alert : m_alerts->shown) {
        EXPECT_EQ(alert.messageText, "Note: Tarnwick cannot remove '.AppleDouble' folders from the selected disk as "
                                     "it is an AFP share. However other metadata will be removed.");
        EXPECT_EQ(alert.informativeText,
                  "If you wish to remove '.AppleDouble' folders please connect to the disk using SMB try again.");
        EXPECT_EQ(alert.style, Alert::Style::informational);
        EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
        EXPECT_TRUE(alert.showsSuppressionButton);
    }
    EXPECT_FALSE(defaults.boolForKey("AFP_APPLEDOUBLE_WARN"));

    // Ticked on the first note of a request: the rest of it shows none.
    m_alerts->tickSuppressionBox = true;
    XEngine::warnIfTryingToDeleteDotAppleDoubleFromAFP(shareAndOthers());
    EXPECT_EQ(m_alerts->shown.size(), 3u);
    EXPECT_TRUE(defaults.boolForKey("AFP_APPLEDOUBLE_WARN"));

    XEngine::warnIfTryingToDeleteDotAppleDoubleFromAFP(shareAndOthers());
    EXPECT_EQ(m_alerts->shown.size(), 3u);
}

TEST_F(AfpNoteTest, NotShownWhenTheRecordLeavesAppleDoubleFoldersAlone)
{
    addShareRecord(false);
    XEngine::warnIfTryingToDeleteDotAppleDoubleFromAFP(shareAndOthers());
    EXPECT_TRUE(m_alerts->shown.empty());
}

TEST_F(AfpNoteTest, TheNoteDoesNotStopTheClean)
{
    addShareRecord(true);
    writeFile(m_share + "/.DS_Store", "x");

    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(m_share)}, false);

    EXPECT_EQ(m_alerts->shown.size(), 1u);
    ASSERT_TRUE(waitForRuns(1));
    EXPECT_FALSE(fileExists(m_share + "/.DS_Store"));
}
