#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QUrl>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QDialog>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QTextDocumentFragment>
#include <QTimer>

#include <filesystem>

#include "AdvancedWindowController.h"
#include "AutostartEntries.h"
#include "Bundle.h"
#include "MainUIController.h"
#include "MainWindowFixture.h"
#include "OpenedFiles.h"
#include "PreferencesController.h"
#include "PreferencesSupport.h"
#include "ResourcesSupport.h"
#include "Screenshot.h"
#include "TestSupport.h"
#include "SoftwareUpdater.h"
#include "SystemVersion.h"
#include "UserDefaults.h"
#include "XTWStore.h"

namespace
{
std::vector<std::string> menuTexts(const QList<QAction *> &actions)
{
    std::vector<std::string> texts;
    for (const QAction *item : actions)
        texts.push_back(item->isSeparator() ? "---" : item->text().toStdString());
    return texts;
}

void validate(QMenu *menu)
{
    emit menu->aboutToShow();
}

class AutostartFolder
{
public:
    AutostartFolder() { std::filesystem::create_directories(AutostartEntries::folder()); }
    ~AutostartFolder() { std::filesystem::remove_all(AutostartEntries::folder()); }

    std::string write(const std::string &name, const std::string &contents)
    {
        const std::string path = AutostartEntries::folder() + "/" + name;
        writeFile(path, contents);
        return path;
    }
};

std::string entryStarting(const std::string &exec)
{
    return "[Desktop Entry]\nType=Application\nName=Something\nExec=" + exec + "\n";
}
}

TEST_F(MainWindowTest, AnotherProgramsAutostartEntryIsNeitherCountedNorRemoved)
{
    AutostartFolder autostart;
    const std::string sync = autostart.write("tarnwick-sync.desktop", entryStarting("/usr/bin/tarnwick-sync --daemon"));
    const std::string inFolder =
        autostart.write("helper.desktop", entryStarting("\"/home/me/tarnwick tools/helper\" %U"));
    const std::string syncBefore = readFile(sync);

    EXPECT_FALSE(controller().loginItemExists());
    controller().openAtLogin();
    EXPECT_TRUE(fileExists(AutostartEntries::ownEntryPath()));
    EXPECT_TRUE(controller().loginItemExists());
    EXPECT_EQ(AutostartEntries::execProgramName(AutostartEntries::ownEntryPath()), "tarnwick");

    controller().openAtLogin();
    EXPECT_FALSE(fileExists(AutostartEntries::ownEntryPath()));
    EXPECT_FALSE(controller().loginItemExists());
    EXPECT_EQ(readFile(sync), syncBefore);
    EXPECT_TRUE(fileExists(inFolder));
}

TEST_F(MainWindowTest, AnOlderCopysEntryIsReplacedByOneForTheRunningCopy)
{
    AutostartFolder autostart;
    const std::string older = autostart.write("Tarnwick (old).desktop", entryStarting("\"/opt/Old Copy/TARNWICK\" --hidden"));
    const std::string other = autostart.write("notes.desktop", entryStarting("/usr/bin/notes"));
    EXPECT_TRUE(controller().loginItemExists());

    controller().removeLoginItem();
    controller().addLoginItem();
    EXPECT_FALSE(fileExists(older));
    EXPECT_TRUE(fileExists(other));
    EXPECT_EQ(AutostartEntries::tarnwickEntries(), std::vector<std::string>{AutostartEntries::ownEntryPath()});
    EXPECT_TRUE(alerts->shown.empty());
}

TEST_F(MainWindowTest, AnAutostartFolderThatCannotBeMadeGivesTheAlert)
{
    // A file where the folder should be.
    std::filesystem::remove_all(AutostartEntries::folder());
    std::filesystem::create_directories(std::filesystem::path(AutostartEntries::folder()).parent_path());
    writeFile(AutostartEntries::folder(), "not a folder");
    controller().addLoginItem();
    std::filesystem::remove(AutostartEntries::folder());
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].informativeText,
              "Couldn't access login items to add Tarnwick. Please contact support for assistace.");
}

TEST_F(MainWindowTest, GearMenuItemsAreValidatedByTheirTags)
{
    AutostartFolder autostart;
    auto *gear = outlet<QMenu>("gearMenu");
    EXPECT_EQ(menuTexts(gear->actions()),
              (std::vector<std::string>{"Advanced...", "Show Log", "Examine...", "---", "Show In Dock", "Open At Login",
                                        "Automatically Check for Updates", "Acknowledgments", "Quit Tarnwick"}));
    EXPECT_EQ(outlet<QToolButton>("gearPopupMenuButton")->menu(), gear);
    QAction *showInDock = action("showInDockMenuItem");
    QAction *openAtLogin = action("openAtLoginMenuItem");
    QAction *updates = action("automaticallyCheckForUpdatesItem");
    EXPECT_EQ(showInDock->property("tag").toInt(), 10002);
    EXPECT_EQ(openAtLogin->property("tag").toInt(), 10001);

    validate(gear);
    EXPECT_FALSE(showInDock->isChecked());
    EXPECT_FALSE(openAtLogin->isChecked());
    EXPECT_FALSE(updates->isChecked());
    EXPECT_TRUE(controller().window()->windowFlags().testFlag(Qt::Tool));

    showInDock->trigger();
    EXPECT_TRUE(PreferencesSupport::standardUserDefaults().boolForKey("kTWShowInDockKey"));
    EXPECT_FALSE(controller().window()->windowFlags().testFlag(Qt::Tool));
    updates->trigger();
    EXPECT_TRUE(PreferencesSupport::standardUserDefaults().boolForKey(SoftwareUpdater::automaticallyChecksKey));
    autostart.write("tarnwick.desktop", entryStarting("tarnwick"));
    validate(gear);
    EXPECT_TRUE(showInDock->isChecked());
    EXPECT_TRUE(openAtLogin->isChecked());
    EXPECT_TRUE(updates->isChecked());

    showInDock->trigger();
    updates->trigger();
    validate(gear);
    EXPECT_FALSE(showInDock->isChecked());
    EXPECT_FALSE(updates->isChecked());
    EXPECT_TRUE(controller().window()->windowFlags().testFlag(Qt::Tool));
    for (QAction *item : gear->actions())
        EXPECT_TRUE(item->isEnabled());
}

TEST_F(MainWindowTest, GearMenuOpensTheAdvancedSheetAndTheExamineWindow)
{
    QDialog *advanced = controller().advancedWindowController()->window();
    action("advancedMenuItem")->trigger();
    ASSERT_TRUE(runEventLoopUntil([advanced] { return advanced->isVisible(); }));
    EXPECT_EQ(advanced->parentWidget(), controller().window());
    advanced->reject();
    ASSERT_TRUE(runEventLoopUntil([advanced] { return !advanced->isVisible(); }));

    // Examine asks for a folder first; a cancelled panel opens no window.
    action("examineMenuItem")->trigger();
    EXPECT_TRUE(runEventLoopUntil([this] { return !panels->titles.empty(); }));
    for (QWidget *widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(widget->objectName() == QLatin1String("examineWindow") && widget->isVisible());
}

TEST_F(MainWindowTest, StatusMenuHoldsTheFixedCommandsAndTheDockMenuDropsItsLastTwo)
{
    QMenu *status = controller().statusItems();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->objectName(), QStringLiteral("statusItems"));
    // Volume rows stand above the first separator once the statistics were shown (a window that
    // lost the focus in an earlier test brings them 5 s later).
    QList<QAction *> items = status->actions();
    while (!items.isEmpty() && !items.first()->isSeparator())
        items.removeFirst();
    EXPECT_EQ(menuTexts(items), (std::vector<std::string>{"---", "Clean...", "Clean Attributes...", "Open Tarnwick...",
                                                         "Show Log", "---", "Quit Tarnwick"}));
    // The Dock's copy: no rows, not the first separator, not the last two items.
    QList<QAction *> dock = items;
    while (!dock.isEmpty() && !dock.first()->isSeparator())
        dock.removeFirst();
    dock.removeFirst();
    dock.removeLast();
    dock.removeLast();
    EXPECT_EQ(menuTexts(dock),
              (std::vector<std::string>{"Clean...", "Clean Attributes...", "Open Tarnwick...", "Show Log"}));
    for (const char *name : {"showMainWindowItem", "cleanUsingTarnwickItem", "showLogItem", "quitItem"})
        EXPECT_TRUE(status->actions().contains(action(name))) << name;
}

TEST_F(MainWindowTest, CleanCommandAsksForArchivesOrFoldersAndWithShiftForAnything)
{
    writeFile(env->homeFile("photos.zip"), "zip");
    writeFile(env->homeFile("notes.txt"), "text");
    panels->probes = {env->homeFile("photos.zip"), env->homeFile("notes.txt"), makeFolder("Folder")};

    action("cleanUsingTarnwickItem")->trigger();
    action("cleanUsingTarnwickAlternateItem")->trigger();
    ASSERT_EQ(panels->titles.size(), 2u);
    EXPECT_EQ(panels->titles[0], "Pick a disk, folder or archive to clean...");
    EXPECT_EQ(panels->titles[1], "Pick folder or file to clean...");
    EXPECT_EQ(panels->prompts[0], "Choose");
    EXPECT_EQ(panels->probeAnswers[0], (std::vector<bool>{true, false, true}));
    EXPECT_EQ(panels->probeAnswers[1], (std::vector<bool>{true, true, true}));
}

TEST_F(MainWindowTest, StatusMenuSwitchIsBoundToItsUserDefault)
{
    auto *button = outlet<QAbstractButton>("showStatusMenuButton");
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value(true), "statusItemVisible");
    auto *preferences = controller().findChild<PreferencesController *>(QStringLiteral("preferences"));
    ASSERT_NE(preferences, nullptr);
    preferences->setBoolValue("statusItemVisible", true);
    EXPECT_TRUE(button->isChecked());
    button->click();
    EXPECT_FALSE(defaults.boolForKey("statusItemVisible"));
    preferences->setBoolValue("statusItemVisible", true);
    EXPECT_TRUE(button->isChecked());
    for (const char *key : {"simulation", "logDeletions", "statusItemVisible", "kTWShowInDockKey"})
        EXPECT_NE(std::find(PreferencesController::switchKeys().begin(), PreferencesController::switchKeys().end(), key),
                  PreferencesController::switchKeys().end())
            << key;
}

TEST_F(MainWindowTest, FullDiskAccessAdviceIsOnlyForMacSystemsFromMojaveOn)
{
    controller().show();
    EXPECT_TRUE(alerts->shown.empty());

    SystemVersion::setMacOSVersionForTesting(QVersionNumber(10, 13, 6));
    controller().show();
    EXPECT_TRUE(alerts->shown.empty());

    SystemVersion::setMacOSVersionForTesting(QVersionNumber(10, 14));
    controller().show();
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].messageText,
              "Tarnwick requires full disk access to delete .Spotlight-V100 and .Trashes folders.");
    EXPECT_EQ(alerts->shown[0].buttons, (std::vector<std::string>{"OK", "Show Full Disk Access Settings"}));
    EXPECT_EQ(alerts->shown[0].style, Alert::Style::critical);
    EXPECT_TRUE(alerts->shown[0].informativeText.starts_with(
        "\nTo grant full disk access in System Preferences - Security & Privacy:\n\nAfter clicking"));

    alerts->tickSuppression = true;
    controller().show();
    ASSERT_EQ(alerts->shown.size(), 2u);
    EXPECT_TRUE(PreferencesSupport::standardUserDefaults().boolForKey("shownMojaveSpotlightAdvice_22"));
    controller().show();
    EXPECT_EQ(alerts->shown.size(), 2u);
    SystemVersion::setMacOSVersionForTesting(std::nullopt);
}

TEST_F(MainWindowTest, ShowSelectsTheFirstRowAndBringsTheWindowForward)
{
    selectSourceRow(1);
    controller().show();
    EXPECT_TRUE(controller().window()->isVisible());
    EXPECT_EQ(sourceTable()->selectionModel()->selectedRows().first().row(), 0);
    EXPECT_EQ(controller().lastSelectedDiskOrDirectoryKey(), "disks");
}

TEST_F(MainWindowTest, ScreenshotsOfEachKindOfRow)
{
    const std::string folder = makeFolder("Photo Library");
    addFolderQuietly(folder);
    controller().window()->resize(760, 500);
    controller().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller().window()));

    selectSourceRow(0);
    saveScreenshot(controller().window(), "main-window-built-in-record");
    selectSourceTitle("Photo Library");
    saveScreenshot(controller().window(), "main-window-folder");
    selectSourceTitle("Schedule");
    saveScreenshot(controller().window(), "main-window-schedule");
    selectSourceRow(1);
    auto *askRadio = outlet<QAbstractButton>("askRadio");
    QTest::mouseClick(askRadio, Qt::LeftButton, {}, QPoint(8, askRadio->height() / 2));
    saveScreenshot(controller().window(), "main-window-ask-mode");
    for (QMenu *menu : {outlet<QMenu>("gearMenu"), controller().statusItems()}) {
        menu->popup(controller().window()->mapToGlobal(QPoint(80, 300)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        saveScreenshot(menu, "main-window-" + menu->objectName().toStdString());
        menu->close();
    }
    // Nothing in the window is cut: the captions have the room their text needs.
    for (const char *name : {"textForDontCleanRadioCaption", "textForAskRadioCaption", "textForCleanRadioCaption"}) {
        auto *caption = outlet<QLabel>(name);
        EXPECT_GE(caption->height(), caption->heightForWidth(caption->width())) << name;
    }
}

// The store variant changes the controller for good, so it runs in a process of its own.
TEST(MainWindowLiteTest, StoreVariantBuildsItsOwnGearMenu)
{
    if (qEnvironmentVariableIsSet("TARNWICK_RUN_STORE_VARIANT"))
        GTEST_SKIP() << "run by the test below";
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARNWICK_RUN_STORE_VARIANT"), QStringLiteral("1"));
    run.setProcessEnvironment(environment);
    run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=MainWindowTest.StoreVariant*")});
    ASSERT_TRUE(run.waitForFinished(60000));
    const QByteArray output = run.readAllStandardOutput() + run.readAllStandardError();
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

TEST_F(MainWindowTest, StoreVariantGearMenu)
{
    if (!qEnvironmentVariableIsSet("TARNWICK_RUN_STORE_VARIANT"))
        GTEST_SKIP() << "runs in a process of its own";
    controller().setupLite();
    EXPECT_TRUE(controller().isAppStoreVersion());
    EXPECT_TRUE(outlet<QAbstractButton>("showStatusMenuButton")->isHidden());
    QMenu *gear = outlet<QToolButton>("gearPopupMenuButton")->menu();
    ASSERT_NE(gear, nullptr);
    EXPECT_EQ(gear->title(), QStringLiteral("gear"));
    const QList<QAction *> items = gear->actions();
    EXPECT_EQ(menuTexts(items), (std::vector<std::string>{"", "Advanced...", "Show Log", "---", "Show In Dock",
                                                         "Open At Login", "Quit Tarnwick"}));
    ASSERT_EQ(items.size(), 7);
    EXPECT_FALSE(items[0]->icon().isNull());
    EXPECT_EQ(items[4]->property("tag").toInt(), 10002);
    EXPECT_EQ(items[5]->property("tag").toInt(), 10001);
    for (const QAction *item : items)
        EXPECT_TRUE(item->shortcut().isEmpty());

    // Open At Login follows the "openAtLogin" default here and changes nothing.
    AutostartFolder autostart;
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "openAtLogin");
    validate(gear);
    EXPECT_TRUE(items[5]->isChecked());
    items[5]->trigger();
    EXPECT_FALSE(fileExists(AutostartEntries::ownEntryPath()));
    items[4]->trigger();
    EXPECT_TRUE(PreferencesSupport::standardUserDefaults().boolForKey("kTWShowInDockKey"));
}

TEST_F(MainWindowTest, AcknowledgmentsOpenWithTheDesktopOrSayTheFileIsMissing)
{
    Bundle &bundle = ResourcesSupport::currentBundle();
    const std::string resources = bundle.resourcesPath();
    TemporaryDirectory elsewhere;
    bundle.setResourcesPathForTesting(elsewhere.path());

    ScopedDesktopOpener desktop;
    testing::internal::CaptureStdout();
    action("acknowledgmentsMenuItem")->trigger();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Acknowledgments.pdf is missing.\n");
    EXPECT_TRUE(desktop->handed.empty());

    writeFile(elsewhere.file("Acknowledgments.pdf"), "%PDF-1.4\n");
    testing::internal::CaptureStdout();
    action("acknowledgmentsMenuItem")->trigger();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(desktop->handed.size(), 1u);
    EXPECT_EQ(desktop->handed[0], elsewhere.file("Acknowledgments.pdf"));
    EXPECT_TRUE(alerts->shown.empty());

    // No viewer is set up: the alert says where the file is, rather than nothing happening.
    desktop->opens = false;
    action("acknowledgmentsMenuItem")->trigger();
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].messageText, "No application could open the file.");
    EXPECT_EQ(alerts->shown[0].informativeText, "The file is here:\n" + elsewhere.file("Acknowledgments.pdf"));
    EXPECT_EQ(alerts->shown[0].buttons, std::vector<std::string>{"OK"});

    // The same alert as the desktop shows it.
    Alert::setPresenter(nullptr);
    QString shownText;
    QString shownPath;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(runEventLoopUntil([] { return QApplication::activeModalWidget() != nullptr; }));
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownText = box->text();
        shownPath = QTextDocumentFragment::fromHtml(box->informativeText()).toPlainText();
        saveScreenshot(box, "acknowledgments-not-opened-alert");
        box->buttons().front()->click();
    });
    action("acknowledgmentsMenuItem")->trigger();
    Alert::setPresenter(alerts);
    bundle.setResourcesPathForTesting(resources);
    EXPECT_EQ(shownText, "No application could open the file.");
    EXPECT_EQ(shownPath.toStdString(), "The file is here:\n" + elsewhere.file("Acknowledgments.pdf"));
}

TEST_F(MainWindowTest, EditsAreSavedFiveSecondsAfterTheWindowLosesTheFocus)
{
    selectSourceRow(0);
    QAbstractItemModel *model = detailsTable()->model();
    const QModelIndex firstLeaf = model->index(0, 0, model->index(0, 0));
    ASSERT_TRUE(firstLeaf.isValid());
    const bool wasChecked = firstLeaf.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    const std::string title = firstLeaf.data().toString().toStdString();
    ASSERT_TRUE(model->setData(firstLeaf, wasChecked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole));

    const auto enabledOnDisk = [this, &title] {
        const Dictionary items = env->sourceItemsOnDisk();
        const auto disks = items.find("disks");
        if (disks == items.end() || !disks->second.asDictionary())
            return std::optional<bool>();
        const std::optional<XFSDiskOrDirectory> record =
            XFSDiskOrDirectory::fromDictionary("disks", *disks->second.asDictionary());
        if (!record)
            return std::optional<bool>();
        for (const XFSDetailsFlagItem &item : record->detailsFlags())
            if (item.displayName() == title)
                return std::optional<bool>(item.enabled());
        return std::optional<bool>();
    };
    EXPECT_NE(enabledOnDisk(), std::optional<bool>(!wasChecked));

    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(controller().window(), &deactivate);
    QTRY_VERIFY_WITH_TIMEOUT(enabledOnDisk() == std::optional<bool>(!wasChecked), 10000);
}

