#include "Alert.h"
#include "Error.h"
#include "GCDAdditions.h"
#include "LogCapture.h"
#include "ModifierKeys.h"
#include "MountTable.h"
#include "OpenPanel.h"
#include "PreferencesSupport.h"
#include "SecurityScopedBookmark.h"
#include "SelectStartupDisk.h"
#include "StoreTestEnvironment.h"
#include "TWFileManager.h"
#include "UserDefaults.h"
#include "XTWStore.h"

#include <QDir>

#include <filesystem>
#include <gtest/gtest.h>

using CleanMode = XFSDiskOrDirectory::CleanMode;

namespace
{
constexpr const char *informativeText =
    "To grant Tarnwick permission to keep any local or network disk clean you'll need to choose your computer's startup "
    "disk.\nIf you do not wish to do this you can add individual disks to clean by click the + button in the "
    "preferences window.";

struct ScriptedAlerts : AlertPresenter
{
    std::size_t present(Alert &alert) override
    {
        shown.push_back(alert);
        return answer;
    }
    std::size_t answer = 1;
    std::vector<Alert> shown;
};

// Plays a user who tries each path in turn and confirms the first the panel lets through,
// or cancels when none is.
struct ScriptedPanel : OpenPanelPresenter
{
    std::int64_t present(OpenPanel &panel) override
    {
        ++shownCount;
        canChooseDirectories = panel.canChooseDirectories();
        canChooseFiles = panel.canChooseFiles();
        directory = panel.directoryURL() ? panel.directoryURL()->path() : "";
        prompt = panel.prompt();
        title = panel.title();
        rootEnabled = panel.shouldEnableURL(URL::fileURLWithPath("/"));
        homeEnabled = panel.shouldEnableURL(URL::fileURLWithPath(directory));
        for (const std::string &path : attempts) {
            const URL url = URL::fileURLWithPath(path);
            if (bypassValidation || panel.validateURL(url)) {
                panel.setURLs({url});
                return OpenPanel::OKResponse;
            }
        }
        return OpenPanel::cancelResponse;
    }

    std::vector<std::string> attempts;
    bool bypassValidation = false;
    int shownCount = 0;
    bool canChooseDirectories = false;
    bool canChooseFiles = true;
    std::string directory;
    std::string prompt;
    std::string title;
    bool rootEnabled = false;
    bool homeEnabled = true;
};

class SecurityScopedAccessTest : public testing::Test
{
protected:
    SecurityScopedAccessTest()
    {
        Alert::setPresenter(m_alerts);
        OpenPanel::setPresenter(m_panel);
        ModifierKeys::setFlagsForTesting(0);
    }
    ~SecurityScopedAccessTest() override
    {
        Alert::setPresenter(nullptr);
        OpenPanel::setPresenter(nullptr);
        ModifierKeys::setFlagsForTesting(std::nullopt);
        MountTable::setSourceForTesting(nullptr);
    }

    static UserDefaults &defaults() { return PreferencesSupport::standardUserDefaults(); }
    static bool hasRootBookmark() { return defaults().objectForKey(SelectStartupDisk::rootBookmarkKey).has_value(); }
    static void storeBookmark(const std::string &key, const std::string &path)
    {
        defaults().setObject(Value(SecurityScopedBookmark::bookmarkData(path, SecurityScopedBookmark::creationWithSecurityScope)),
                             key);
    }

    StoreTestEnvironment m_environment;
    std::shared_ptr<ScriptedAlerts> m_alerts = std::make_shared<ScriptedAlerts>();
    std::shared_ptr<ScriptedPanel> m_panel = std::make_shared<ScriptedPanel>();
};
}

TEST_F(SecurityScopedAccessTest, WithoutARootGrantTheAnswerIsFalseAndNothingIsShown)
{
    EXPECT_FALSE(XTWStore::resolveSecurityBookmark(false));
    EXPECT_TRUE(m_alerts->shown.empty());
    EXPECT_EQ(m_panel->shownCount, 0);
}

TEST_F(SecurityScopedAccessTest, AWorkingRootGrantIsOpenedAndKept)
{
    storeBookmark(SelectStartupDisk::rootBookmarkKey, "/");
    const int before = SecurityScopedBookmark::openAccessCount("/");
    EXPECT_TRUE(XTWStore::resolveSecurityBookmark(true));
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount("/"), before + 1);
    EXPECT_TRUE(hasRootBookmark());
    EXPECT_TRUE(m_alerts->shown.empty());
}

TEST_F(SecurityScopedAccessTest, ARootGrantThatNoLongerResolvesIsForgotten)
{
    defaults().setObject(Value(Data{'n', 'o', 't', ' ', 'a', ' ', 'b', 'o', 'o', 'k', 'm', 'a', 'r', 'k'}),
                         SelectStartupDisk::rootBookmarkKey);
    EXPECT_FALSE(XTWStore::resolveSecurityBookmark(false));
    EXPECT_FALSE(hasRootBookmark());

    TemporaryDirectory gone;
    const std::string folder = gone.file("Disk");
    std::filesystem::create_directory(folder);
    storeBookmark(SelectStartupDisk::rootBookmarkKey, folder);
    std::filesystem::remove(folder);
    EXPECT_FALSE(XTWStore::resolveSecurityBookmark(false));
    EXPECT_FALSE(hasRootBookmark());
    EXPECT_TRUE(m_alerts->shown.empty());
}

TEST_F(SecurityScopedAccessTest, CancellingTheAlertOrThePanelStoresNothing)
{
    m_alerts->answer = 1;
    EXPECT_FALSE(XTWStore::resolveSecurityBookmark(true));
    ASSERT_EQ(m_alerts->shown.size(), 1u);
    const Alert &alert = m_alerts->shown.front();
    const std::optional<std::string> diskName = TWFileManager::startupDiskDisplayNameIfPossible();
    EXPECT_EQ(alert.messageText(), diskName && !diskName->empty() ? "Please choose the disk named " + *diskName
                                                                   : "Please choose your startup disk.");
    EXPECT_EQ(alert.informativeText(), informativeText);
    EXPECT_EQ(alert.buttonTitles(), (std::vector<std::string>{"Choose...", "Cancel"}));
    EXPECT_EQ(m_panel->shownCount, 0);

    m_alerts->answer = 0;
    m_panel->attempts = {};
    EXPECT_FALSE(XTWStore::resolveSecurityBookmark(true));
    EXPECT_EQ(m_panel->shownCount, 1);
    EXPECT_FALSE(hasRootBookmark());
}

TEST_F(SecurityScopedAccessTest, OnlyTheRootCanBeChosenAndTheNextResolutionOpensIt)
{
    m_alerts->answer = 0;
    const std::string home = QDir::homePath().toStdString();
    m_panel->attempts = {home, "/"};
    const int before = SecurityScopedBookmark::openAccessCount("/");

    EXPECT_TRUE(XTWStore::resolveSecurityBookmark(true));
    EXPECT_TRUE(m_panel->canChooseDirectories);
    EXPECT_FALSE(m_panel->canChooseFiles);
    EXPECT_EQ(m_panel->directory, URL::fileURLWithPath(home).path());
    EXPECT_EQ(m_panel->prompt, "Choose");
    const std::optional<std::string> diskName = TWFileManager::startupDiskDisplayNameIfPossible();
    EXPECT_EQ(m_panel->title, diskName && !diskName->empty() ? "Choose the disk named \"" + *diskName + "\""
                                                              : "Choose your startup disk.");
    EXPECT_TRUE(m_panel->rootEnabled);
    EXPECT_FALSE(m_panel->homeEnabled);
    ASSERT_TRUE(hasRootBookmark());
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount("/"), before) << "a new grant is opened by the next resolution";

    EXPECT_TRUE(XTWStore::resolveSecurityBookmark(false));
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount("/"), before + 1);
}

TEST_F(SecurityScopedAccessTest, ABookmarkThatCannotBeMadeIsLoggedAndShown)
{
    LogCapture log;
    TemporaryDirectory folder;
    m_alerts->answer = 0;
    m_panel->bypassValidation = true;
    m_panel->attempts = {folder.file("vanished")};

    EXPECT_FALSE(XTWStore::resolveSecurityBookmark(true));
    EXPECT_FALSE(hasRootBookmark());
    ASSERT_EQ(m_alerts->shown.size(), 2u) << "the question, then the error";
    const std::string description = Error::posix(ENOENT).localizedDescription();
    EXPECT_EQ(m_alerts->shown[1].messageText(), description);
    EXPECT_GE(log.countContaining(description), 1u);
}

TEST_F(SecurityScopedAccessTest, OptionAtStartUpForgetsTheGrantAndTheBuiltInsCleanNothing)
{
    std::shared_ptr<XTWStore> store = XTWStore::create();
    store->update(store->detailsForDisks().copyWithNewCleanMode(CleanMode::alwaysClean));
    store->update(store->detailsForServers().copyWithNewCleanMode(CleanMode::askToClean));
    GCDAdditions::cancelBlockWithName(XTWStore::saveThrottleName);

    storeBookmark(SelectStartupDisk::rootBookmarkKey, "/");
    store->resolveSecurityBookmarkAtStartupForThisStore();
    EXPECT_TRUE(hasRootBookmark()) << "without Option a working grant stays";
    EXPECT_EQ(store->detailsForDisks().mode(), CleanMode::alwaysClean);
    EXPECT_EQ(store->detailsForServers().mode(), CleanMode::askToClean);

    ModifierKeys::setFlagsForTesting(ModifierKeys::optionKeyMask);
    store->resolveSecurityBookmarkAtStartupForThisStore();
    EXPECT_FALSE(hasRootBookmark());
    EXPECT_EQ(store->detailsForDisks().mode(), CleanMode::ignore);
    EXPECT_EQ(store->detailsForServers().mode(), CleanMode::ignore);
    EXPECT_TRUE(m_alerts->shown.empty()) << "the start-up check never asks";
}

TEST_F(SecurityScopedAccessTest, PerRecordGrantsOpenOnlyForAlwaysCleanRecordsOnMountedVolumes)
{
    TemporaryDirectory volume;
    TemporaryDirectory elsewhere;
    const std::string inner = volume.file("inner");
    for (const std::string &folder : {volume.file("Kept"), volume.file("Asked"), volume.file("Ignored"),
                                      volume.file("NoGrant"), volume.file("Broken"), inner, inner + "/Nested"})
        std::filesystem::create_directory(folder);
    MountTable::setSourceForTesting(std::make_shared<ScriptedMountInfoSource>(
        "22 1 8:1 / / rw shared:1 - ext4 /dev/sda1 rw\n"
        "60 22 8:200 / " + volume.path() + " rw shared:40 - vfat /dev/sdz1 rw\n"
        "61 60 8:201 / " + inner + " rw shared:41 - vfat /dev/sdz2 rw\n"));

    std::shared_ptr<XTWStore> store = XTWStore::create();
    const auto add = [&store](const std::string &path, CleanMode mode, bool withGrant) {
        EXPECT_TRUE(store->addDetailsForVolumeAtPath(path, mode));
        if (withGrant)
            storeBookmark(XTWStore::bookmarkKeyPrefix + XFSDiskOrDirectory(path, mode).storageKey(), path);
    };
    add(volume.file("Kept"), CleanMode::alwaysClean, true);
    add(volume.file("Asked"), CleanMode::askToClean, true);
    add(volume.file("Ignored"), CleanMode::ignore, true);
    add(volume.file("NoGrant"), CleanMode::alwaysClean, false);
    add(inner + "/Nested", CleanMode::alwaysClean, true);
    // On the start-up disk: left to the root grant.
    add(elsewhere.path(), CleanMode::alwaysClean, true);
    const std::string brokenKey =
        XTWStore::bookmarkKeyPrefix + XFSDiskOrDirectory(volume.file("Broken"), CleanMode::alwaysClean).storageKey();
    add(volume.file("Broken"), CleanMode::alwaysClean, false);
    defaults().setObject(Value(Data{1, 2, 3}), brokenKey);

    const auto opened = [&store](const std::string &path) {
        const std::vector<URL> urls = store->activeScopedURLs();
        return std::count(urls.begin(), urls.end(), URL::fileURLWithPath(path));
    };
    for (int run = 0; run < 2; ++run) {
        store->accessSecurityScopedSourceItems();
        SCOPED_TRACE("run " + std::to_string(run + 1));
        EXPECT_EQ(opened(volume.file("Kept")), 1);
        EXPECT_EQ(SecurityScopedBookmark::openAccessCount(volume.file("Kept")), 1);
        // Its path lies on two listed volumes: opened once for each, and each stopped at the next run.
        EXPECT_EQ(opened(inner + "/Nested"), 2);
        EXPECT_EQ(SecurityScopedBookmark::openAccessCount(inner + "/Nested"), 2);
        for (const std::string &closed : {volume.file("Asked"), volume.file("Ignored"), volume.file("NoGrant"),
                                          volume.file("Broken"), elsewhere.path()}) {
            EXPECT_EQ(opened(closed), 0) << closed;
            EXPECT_EQ(SecurityScopedBookmark::openAccessCount(closed), 0) << closed;
        }
        EXPECT_EQ(store->activeScopedURLs().size(), 3u);
    }
    EXPECT_TRUE(defaults().objectForKey(brokenKey).has_value()) << "a per-record grant that fails stays in place";

    // A folder that went away is skipped and its former access stopped.
    std::filesystem::remove(volume.file("Kept"));
    store->accessSecurityScopedSourceItems();
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount(volume.file("Kept")), 0);
    EXPECT_EQ(store->activeScopedURLs().size(), 2u);

    // Once the volumes are gone, nothing stays open.
    MountTable::setSourceForTesting(
        std::make_shared<ScriptedMountInfoSource>("22 1 8:1 / / rw shared:1 - ext4 /dev/sda1 rw\n"));
    store->accessSecurityScopedSourceItems();
    EXPECT_TRUE(store->activeScopedURLs().empty());
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount(inner + "/Nested"), 0);
}
