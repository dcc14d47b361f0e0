#include <QAbstractButton>
#include <QAction>
#include <QIcon>
#include <QImage>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <filesystem>

#include "MainUIController.h"
#include "MainWindowFixture.h"
#include "OpenedFiles.h"
#include "PreferencesSupport.h"
#include "ProgressWindowFactory.h"
#include "Screenshot.h"
#include "TWVolumeInfo.h"
#include "UserDefaults.h"
#include "XEngine.h"
#include "XTWStore.h"

namespace
{
const QString divider = QStringLiteral("-");

std::string storageKeyOf(const std::string &path)
{
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories())
        if (record.path() == path)
            return record.storageKey();
    return {};
}
}

TEST_F(MainWindowTest, ListShowsBuiltInsThenScheduleBetweenDividersThenFoldersInPlainStringOrder)
{
    addFolderQuietly(makeFolder("beta"));
    addFolderQuietly(makeFolder("Beta"));
    addFolderQuietly(makeFolder("alpha"));
    addFolderQuietly(makeFolder("Zulu"));

    const std::vector<QString> titles = sourceTitles();
    ASSERT_EQ(titles.size(), 9u);
    EXPECT_EQ(titles[0].toStdString(), XTWStore::shared().detailsForDisks().displayName());
    EXPECT_EQ(titles[1].toStdString(), XTWStore::shared().detailsForServers().displayName());
    EXPECT_EQ(titles[2], divider);
    EXPECT_EQ(titles[3], QStringLiteral("Schedule"));
    EXPECT_EQ(titles[4], divider);
    // Capitals first, as the names' characters compare, not as the locale would sort them.
    EXPECT_EQ(std::vector<QString>(titles.begin() + 5, titles.end()),
              (std::vector<QString>{"Beta", "Zulu", "alpha", "beta"}));

    const QModelIndex schedule = sourceTable()->model()->index(3, 0);
    EXPECT_FALSE(schedule.data(Qt::DecorationRole).value<QIcon>().isNull());
}

TEST_F(MainWindowTest, DividersAreTenPixelsHighAndCannotBeSelected)
{
    controller().window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller().window()));
    QTreeView *list = sourceTable();
    const QRect dividerRow = list->visualRect(list->model()->index(2, 0));
    EXPECT_EQ(dividerRow.height(), 10);
    EXPECT_GT(list->visualRect(list->model()->index(0, 0)).height(), 10);

    selectSourceRow(1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, dividerRow.center());
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().row(), 1);
}

TEST_F(MainWindowTest, RebuildWithoutSelectionSelectsTheDisksRecordAndAnAddedFolderGetsSelected)
{
    sourceTable()->selectionModel()->clearSelection();
    controller().populateSourceTable();
    ASSERT_EQ(sourceTable()->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(sourceTable()->selectionModel()->selectedRows().first().row(), 0);
    EXPECT_EQ(controller().lastSelectedDiskOrDirectoryKey(), "disks");

    const std::string folder = makeFolder("Projects");
    addFolderQuietly(folder);
    EXPECT_EQ(controller().lastSelectedDiskOrDirectoryKey(), storageKeyOf(folder));
    EXPECT_EQ(sourceTable()->selectionModel()->selectedRows().first().data().toString(), QStringLiteral("Projects"));
}

TEST_F(MainWindowTest, ScheduleRowSwapsInTheSchedulePaneAndBack)
{
    controller().window()->show();
    QWidget *details = outlet<QWidget>("detailsAndOptionsContainerView");
    QWidget *scheduleContainer = outlet<QWidget>("scheduleOptionsContainerView");

    selectSourceTitle("Schedule");
    EXPECT_TRUE(details->isHidden());
    EXPECT_FALSE(scheduleContainer->isHidden());
    QWidget *schedulePane = scheduleContainer->findChild<QWidget *>(QStringLiteral("scheduleView"));
    ASSERT_NE(schedulePane, nullptr);
    EXPECT_TRUE(schedulePane->isVisible());

    selectSourceRow(1);
    EXPECT_FALSE(details->isHidden());
    EXPECT_TRUE(scheduleContainer->isHidden());
    EXPECT_EQ(scheduleContainer->findChild<QWidget *>(QStringLiteral("scheduleView")), nullptr);
    EXPECT_EQ(controller().lastSelectedDiskOrDirectoryKey(), "servers");
}

TEST_F(MainWindowTest, DroppedFolderIsAddedWhileAFileOrMissingItemIsRefused)
{
    const std::string folder = makeFolder("Dropped");
    writeFile(env->homeFile("plain.txt"), "text");

    EXPECT_FALSE(drop(sourceTable(), env->homeFile("plain.txt")));
    EXPECT_FALSE(drop(sourceTable(), env->homeFile("gone")));
    EXPECT_TRUE(XTWStore::shared().userSuppliedDisksOrDirectories().empty());

    PreferencesSupport::standardUserDefaults().setObject(Value(true), "HFSWarning");
    EXPECT_TRUE(drop(sourceTable(), folder));
    ASSERT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().size(), 1u);
    EXPECT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().front().path(), folder);
    EXPECT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().front().mode(),
              XFSDiskOrDirectory::CleanMode::alwaysClean);
    EXPECT_EQ(rowOfTitle("Dropped"), 5);
    // Kept at once: the file on disk has it.
    EXPECT_EQ(env->sourceItemsOnDisk().count(storageKeyOf(folder)), 1u);
}

TEST_F(MainWindowTest, BootDisksAreRefusedWithTheAlert)
{
    const std::string macSystem = makeFolder("Macintosh HD");
    std::filesystem::create_directories(macSystem + "/System/Library/CoreServices");

    controller().addFolderURL(URL::fileURLWithPath("/"));
    EXPECT_TRUE(drop(sourceTable(), macSystem));

    ASSERT_EQ(alerts->shown.size(), 2u);
    EXPECT_EQ(alerts->shown[0].messageText, "Tarnwick");
    EXPECT_EQ(alerts->shown[0].style, Alert::Style::critical);
    EXPECT_EQ(alerts->shown[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(alerts->shown[0].informativeText,
              URL::fileURLWithPath("/").displayName() +
                  " cannot be used because it is a boot disk. Please pick a subfolder on the disk instead.");
    EXPECT_EQ(alerts->shown[1].informativeText,
              "Macintosh HD cannot be used because it is a boot disk. Please pick a subfolder on the disk instead.");
    EXPECT_TRUE(XTWStore::shared().userSuppliedDisksOrDirectories().empty());
    EXPECT_TRUE(env->sourceItemsOnDisk().size() <= 2u);
}

TEST_F(MainWindowTest, MacOrLinuxDiskWarningShowsUntilItsBoxIsTicked)
{
    // The temporary home lies on the start-up disk, a Linux format; the stick is FAT.
    const std::string onStick = env->volume("STICK") + "/Photos";
    std::filesystem::create_directories(onStick);
    controller().addFolderURL(URL::fileURLWithPath(onStick));
    EXPECT_TRUE(alerts->shown.empty());

    controller().addFolderURL(URL::fileURLWithPath(makeFolder("First")));
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].messageText, "Folder on a Mac or Linux Formatted Disk Selected");
    EXPECT_EQ(alerts->shown[0].informativeText,
              "The folder you have selected is on a Mac or Linux formatted volume. Tarnwick will only clean "
              "DS_Stores and blacklisted items from this folder. Resource forks and attributes will be kept to "
              "ensure application compatibility.");
    EXPECT_TRUE(alerts->shown[0].showsSuppressionButton);
    EXPECT_FALSE(PreferencesSupport::standardUserDefaults().boolForKey("HFSWarning"));

    alerts->tickSuppression = true;
    controller().addFolderURL(URL::fileURLWithPath(makeFolder("Second")));
    ASSERT_EQ(alerts->shown.size(), 2u);
    EXPECT_TRUE(PreferencesSupport::standardUserDefaults().boolForKey("HFSWarning"));

    controller().addFolderURL(URL::fileURLWithPath(makeFolder("Third")));
    EXPECT_EQ(alerts->shown.size(), 2u);
    // The warning only informs: every folder was added.
    EXPECT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().size(), 4u);
}

TEST_F(MainWindowTest, AddFolderCommandAsksWithAPanelForFoldersOnly)
{
    const std::string folder = makeFolder("Chosen");
    panels->choose = {URL::fileURLWithPath(folder)};
    addFolderQuietly(makeFolder("Other"));
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "HFSWarning");
    outlet<QAbstractButton>("addFolderButton")->click();

    ASSERT_EQ(panels->titles.size(), 1u);
    EXPECT_EQ(panels->titles[0], "Pick a disk or folder");
    EXPECT_EQ(panels->prompts[0], "Choose");
    EXPECT_FALSE(panels->canChooseFiles[0]);
    EXPECT_FALSE(storageKeyOf(folder).empty());
}

TEST_F(MainWindowTest, RemoveTakesOutTheSelectedFolderAndItsGrantButLeavesTheBuiltIns)
{
    const std::string kept = makeFolder("Kept");
    const std::string removed = makeFolder("Removed");
    addFolderQuietly(kept);
    addFolderQuietly(removed);
    const std::string removedKey = storageKeyOf(removed);
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value(std::string("grant")), "bookmark-" + removedKey);

    selectSourceTitle("Removed");
    outlet<QAbstractButton>("removeSourceItemButton")->click();
    EXPECT_TRUE(storageKeyOf(removed).empty());
    EXPECT_FALSE(storageKeyOf(kept).empty());
    EXPECT_FALSE(defaults.objectForKey("bookmark-" + removedKey));
    EXPECT_EQ(sourceTable()->selectionModel()->selectedRows().first().row(), 0);
    // Kept at once.
    EXPECT_EQ(env->sourceItemsOnDisk().count(removedKey), 0u);

    // A built-in record selected: nothing goes.
    selectSourceRow(1);
    controller().removeSourceItem();
    EXPECT_EQ(sourceTitles().size(), 6u);
    EXPECT_EQ(XTWStore::shared().builtInDisksOrDirectories().size(), 2u);
    EXPECT_EQ(env->sourceItemsOnDisk().count("disks"), 1u);
    EXPECT_EQ(env->sourceItemsOnDisk().count("servers"), 1u);
}

TEST_F(MainWindowTest, RemoveTakesOutTheRecordShownEvenWhenItsFolderNameIsNotUtf8)
{
    // A folder named in Latin-1, as on an old FAT disk, beside one named with what that name
    // shows as once decoded (a U+FFFD for the stray byte): the two rows read alike.
    const std::string latin1 = makeFolder("caf\xe9");
    const std::string lookalike = makeFolder("caf\xef\xbf\xbd");
    const std::string kept = makeFolder("Kept");
    for (const std::string &folder : {latin1, lookalike, kept})
        addFolderQuietly(folder);
    const std::string removedKey = storageKeyOf(latin1);
    ASSERT_FALSE(removedKey.empty());
    ASSERT_EQ(env->sourceItemsOnDisk().count(removedKey), 1u) << "the preferences hold the key's own bytes";
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value(std::string("grant")), "bookmark-" + removedKey);
    defaults.setObject(Value(std::string("grant")), "bookmark-" + storageKeyOf(lookalike));

    const int row = controller().rowOfKey(removedKey);
    ASSERT_GE(row, 0);
    EXPECT_EQ(sourceTable()->model()->index(row, 0).data().toString(), QStringLiteral("caf\uFFFD"));
    controller().window()->show();
    selectSourceRow(row);
    EXPECT_EQ(controller().lastSelectedDiskOrDirectoryKey(), removedKey) << "the checklist shows that record";
    saveScreenshot(controller().window(), "source-list-folder-not-utf8-selected");
    outlet<QAbstractButton>("removeSourceItemButton")->click();

    EXPECT_TRUE(storageKeyOf(latin1).empty()) << "the record shown is gone";
    EXPECT_FALSE(storageKeyOf(lookalike).empty()) << "the one that only looks like it stays";
    EXPECT_FALSE(storageKeyOf(kept).empty());
    EXPECT_FALSE(defaults.objectForKey("bookmark-" + removedKey));
    EXPECT_TRUE(defaults.objectForKey("bookmark-" + storageKeyOf(lookalike)));
    const Dictionary stored = env->sourceItemsOnDisk();
    EXPECT_EQ(stored.count(removedKey), 0u);
    EXPECT_EQ(stored.count(storageKeyOf(lookalike)), 1u);
    EXPECT_EQ(stored.count(storageKeyOf(kept)), 1u);
}

TEST_F(MainWindowTest, ShowInFileManagerOpensTheClickedFolderWhileItIsThere)
{
    OpenedFiles desktop;
    const std::string folder = makeFolder("Shown");
    addFolderQuietly(folder);
    controller().window()->show();
    QTreeView *list = sourceTable();
    auto *menu = list->findChild<QMenu *>(QStringLiteral("sourceTableMenu"));
    ASSERT_NE(menu, nullptr);
    QAction *showItem = menu->findChild<QAction *>(QStringLiteral("showInFinderSourceMenuMenuItem"));
    ASSERT_NE(showItem, nullptr);
    EXPECT_EQ(showItem->text(), QStringLiteral("Show in File Manager"));

    const QPoint onFolder = list->visualRect(list->model()->index(rowOfTitle("Shown"), 0)).center();
    emit list->customContextMenuRequested(onFolder);
    menu->close();
    showItem->trigger();
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(desktop.opened[0].toLocalFile().toStdString(), folder);

    // The folder is gone: nothing opens.
    std::filesystem::remove(folder);
    showItem->trigger();
    EXPECT_EQ(desktop.opened.size(), 1u);

    // Below the last row: no row, nothing opens.
    emit list->customContextMenuRequested(QPoint(4, list->viewport()->height() - 2));
    menu->close();
    showItem->trigger();
    EXPECT_EQ(desktop.opened.size(), 1u);
}

TEST_F(MainWindowTest, DetailsChecklistTakesFoldersButNotVolumes)
{
    const std::string folder = env->volume("STICK") + "/Junk";
    std::filesystem::create_directories(folder);
    // A folder kept always clean shows the checklist.
    controller().addFolderURL(URL::fileURLWithPath(folder));
    controller().window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller().window()));
    ASSERT_TRUE(detailsTable()->isVisible());
    EXPECT_EQ(controller().outlineViewValidateDrop(detailsTable(), nullptr), Qt::IgnoreAction);
    EXPECT_FALSE(drop(detailsTable(), "/"));
    EXPECT_TRUE(drop(detailsTable(), folder));
    // The drop names a black-list item for the Advanced window; the list of records is unchanged.
    EXPECT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().size(), 1u);
}


namespace
{
QImage pictureOf(const QModelIndex &row)
{
    return row.data(Qt::DecorationRole).value<QIcon>().pixmap(24, 24).toImage();
}
}

TEST_F(MainWindowTest, ADiskAndAFolderOfTheSameNameAreTwoRowsWithTheirOwnIconsAndSelections)
{
    // The disk record of the stick, and a folder on the start-up disk that bears the stick's name.
    const std::string disk = env->volume("STICK");
    XTWStore::shared().addDetailsForVolumeAtPath(disk, XFSDiskOrDirectory::CleanMode::alwaysClean);
    const std::string folder = makeFolder("STICK");
    addFolderQuietly(folder);
    const std::string diskKey = storageKeyOf(disk);
    const std::string folderKey = storageKeyOf(folder);
    ASSERT_FALSE(diskKey.empty());
    ASSERT_FALSE(folderKey.empty());
    ASSERT_NE(diskKey, folderKey);

    const auto rowOfKey = [this](const std::string &key) { return controller().rowOfKey(key); };
    const auto selectedKey = [this] {
        return controller().selectedSourceDetails().empty() ? std::string()
                                                            : controller().selectedSourceDetails().front().storageKey();
    };
    const std::vector<QString> titles = sourceTitles();
    EXPECT_EQ(std::count(titles.begin(), titles.end(), QStringLiteral("STICK")), 2);
    const QAbstractItemModel *model = sourceTable()->model();
    EXPECT_NE(pictureOf(model->index(rowOfKey(diskKey), 0)), pictureOf(model->index(rowOfKey(folderKey), 0)))
        << "the disk shows a disk, the folder a folder";
    controller().window()->show();
    selectSourceRow(rowOfKey(folderKey));
    EXPECT_FALSE(saveScreenshot(controller().window(), "source-list-disk-and-folder-of-one-name").empty());

    // A rebuild that moves the rows keeps the selection on its record, not on its position.
    addFolderQuietly(makeFolder("Archive"));
    selectSourceRow(rowOfKey(folderKey));
    const int before = rowOfKey(folderKey);
    XTWStore::shared().remove(*XTWStore::shared().diskOrDirectoryDetailsForKey(storageKeyOf(env->homeFile("Archive"))));
    controller().populateSourceTable();
    ASSERT_EQ(rowOfKey(folderKey), before - 1);
    EXPECT_EQ(selectedKey(), folderKey);
    const QImage folderPicture = pictureOf(model->index(rowOfKey(folderKey), 0));

    // "−" removes exactly the selected record: the folder goes, the disk keeps its settings.
    controller().removeSourceItem();
    EXPECT_FALSE(XTWStore::shared().diskOrDirectoryDetailsForKey(folderKey));
    ASSERT_TRUE(XTWStore::shared().diskOrDirectoryDetailsForKey(diskKey));
    EXPECT_EQ(XTWStore::shared().diskOrDirectoryDetailsForKey(diskKey)->mode(),
              XFSDiskOrDirectory::CleanMode::alwaysClean);
    ASSERT_GE(rowOfKey(diskKey), 0);
    EXPECT_NE(pictureOf(model->index(rowOfKey(diskKey), 0)), folderPicture) << "the disk keeps its own icon";

    // And the other way round.
    addFolderQuietly(folder);
    selectSourceRow(rowOfKey(diskKey));
    controller().removeSourceItem();
    EXPECT_FALSE(XTWStore::shared().diskOrDirectoryDetailsForKey(diskKey));
    EXPECT_TRUE(XTWStore::shared().diskOrDirectoryDetailsForKey(folderKey));
}

namespace
{
std::vector<QString> rowsOf(const QAbstractItemModel &model, int role)
{
    std::vector<QString> rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows.push_back(model.index(row, 0).data(role).toString());
    return rows;
}
}

// A start that only cleans builds no list; it needs a controller that has never shown its window,
// so it runs in a process of its own.
TEST(MainWindowFirstShowingTest, TheListIsRightWhenTheWindowIsFirstShownAfterACleanThatAddedARecord)
{
    if (qEnvironmentVariableIsSet("TARNWICK_RUN_FIRST_SHOWING"))
        GTEST_SKIP() << "run by the test below";
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARNWICK_RUN_FIRST_SHOWING"), QStringLiteral("1"));
    run.setProcessEnvironment(environment);
    run.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=MainWindowFirstShowingTest.InAProcessOfItsOwn")});
    ASSERT_TRUE(run.waitForFinished(120000));
    const QByteArray output = run.readAllStandardOutput() + run.readAllStandardError();
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

TEST(MainWindowFirstShowingTest, InAProcessOfItsOwn)
{
    if (!qEnvironmentVariableIsSet("TARNWICK_RUN_FIRST_SHOWING"))
        GTEST_SKIP() << "runs in a process of its own";
    StoreTestEnvironment env;
    XTWStore &store = XTWStore::shared();
    store.load();
    ProgressDisplayFactory::setCurrent(std::make_shared<ProgressWindowFactory>());
    MainUIController *controller = MainUIController::loadFromInterfaceFile();
    auto *list = controller->window()->findChild<QTreeView *>(QStringLiteral("sourceTable"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->model()->rowCount(), 0) << "a hidden window's list is not built";

    // A folder handed to Tarnwick becomes a record that is always cleaned.
    const std::string folder = env.homeFile("Holiday Photos");
    std::filesystem::create_directories(folder);
    writeFile(folder + "/.DS_Store", "Bud1");
    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(folder)}, false);
    ASSERT_TRUE(runEventLoopUntil([&] { return !fileExists(folder + "/.DS_Store"); }, std::chrono::seconds(30)));
    const std::optional<XFSDiskOrDirectory> record = store.detailsForURL(URL::fileURLWithPath(folder), true, true);
    ASSERT_TRUE(record) << "the clean made the folder's record";
    runEventLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(list->model()->rowCount(), 0) << "the store's change rebuilt no hidden list";
    EXPECT_EQ(controller->window()->findChild<QObject *>(QStringLiteral("advancedWindowController")), nullptr)
        << "the Advanced sheet is made when it is first asked for";

    controller->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    std::vector<QString> titles;
    for (const XFSDiskOrDirectory &builtIn : store.builtInDisksOrDirectories())
        titles.push_back(QString::fromStdString(builtIn.displayName()));
    titles.insert(titles.end(), {divider, QStringLiteral("Schedule"), divider, QStringLiteral("Holiday Photos")});
    EXPECT_EQ(rowsOf(*list->model(), Qt::DisplayRole), titles);
    const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
    EXPECT_FALSE(last.data(Qt::DecorationRole).value<QIcon>().isNull()) << "the record's row has its icon";
    ASSERT_EQ(list->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(list->selectionModel()->selectedRows().front().row(), 0) << "the disks record, as at every showing";
    EXPECT_EQ(controller->lastSelectedDiskOrDirectoryKey(), store.builtInDisksOrDirectories()[0].storageKey());
    saveScreenshot(controller->window(), "main-window-first-shown-after-a-clean");

    // Shown once, the list follows the store.
    const std::string other = env.homeFile("Scans");
    std::filesystem::create_directories(other);
    store.addDetailsForVolumeAtPath(other, XFSDiskOrDirectory::CleanMode::alwaysClean);
    EXPECT_TRUE(runEventLoopUntil([&] { return list->model()->rowCount() == int(titles.size()) + 1; }));
    titles.push_back(QStringLiteral("Scans"));
    EXPECT_EQ(rowsOf(*list->model(), Qt::DisplayRole), titles);
    controller->window()->hide();
    ProgressDisplayFactory::setCurrent(nullptr);
}
