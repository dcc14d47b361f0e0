#include "AdvancedWindowController.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include "AdvancedWindowDelegate.h"
#include "Alert.h"
#include "Md5.h"
#include "NotificationCenter.h"
#include "OpenPanel.h"
#include "PreferencesSupport.h"
#include "RecordingAlerts.h"
#include "SystemLog.h"
#include "TarnwickStore.h"
#include "TemporaryPreferences.h"
#include "UserDefaults.h"
#include "Screenshot.h"
#include "XEngine.h"
#include "XTWStore.h"

namespace
{
class RecordingDelegate : public AdvancedWindowDelegate
{
public:
    void storeAnyChangesToFlags() override
    {
        ++storeCalls;
        if (!pendingChecklistName.empty()) {
            // The main window's pending edit: a black-list name that only its record knows yet.
            XFSDiskOrDirectory record = XTWStore::shared().detailsForDisks();
            std::vector<BlackListItem> items = XTWStore::allBlackListItems();
            items.push_back({md5(pendingChecklistName), pendingChecklistName});
            record.update(items);
            XTWStore::shared().update(record);
        }
    }
    void setPreferencesContent(const std::optional<Dictionary> &generalPreferences) override
    {
        preferencesContents.push_back(generalPreferences);
    }

    int storeCalls = 0;
    std::string pendingChecklistName;
    std::vector<std::optional<Dictionary>> preferencesContents;
};

class ScriptedOpenPanel : public OpenPanelPresenter
{
public:
    std::int64_t present(OpenPanel &panel) override
    {
        shown.push_back({panel.title(), panel.prompt(), panel.canChooseFiles(), panel.canChooseDirectories(),
                         panel.allowsMultipleSelection()});
        panel.setURLs(urls);
        return response;
    }

    struct Shown
    {
        std::string title;
        std::string prompt;
        bool files;
        bool directories;
        bool several;
    };
    std::vector<URL> urls;
    std::int64_t response = OpenPanel::OKResponse;
    std::vector<Shown> shown;
};

std::vector<std::string> column(const ArrayController *controller, const char *key)
{
    std::vector<std::string> values;
    for (const Value &row : controller->content()) {
        const Dictionary *dictionary = row.asDictionary();
        const auto found = dictionary ? dictionary->find(key) : Dictionary::const_iterator();
        values.push_back(dictionary && found != dictionary->end() && found->second.asString()
                             ? *found->second.asString()
                             : "<none>");
    }
    return values;
}

// The black-list items of a record: key → name.
std::map<std::string, std::string> blackListOf(const XFSDiskOrDirectory &record)
{
    std::map<std::string, std::string> items;
    for (const XFSDetailsFlagItem &item : record.detailsFlags()) {
        if (item.type() == XFSDetailsFlagItem::ItemType::blacklist)
            items[item.uniqueKey()] = item.fsName();
    }
    return items;
}

std::vector<XFSDiskOrDirectory> everyRecord()
{
    std::vector<XFSDiskOrDirectory> records = XTWStore::shared().builtInDisksOrDirectories();
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories())
        records.push_back(record);
    return records;
}

// Real Finder information: the type code, and a colour label in the Finder flags.
void setFinderType(const std::string &path, const char type[4])
{
    char info[32] = {};
    std::copy(type, type + 4, info);
    info[9] = 0x0c;
    ASSERT_EQ(setxattr(path.c_str(), "user.com.apple.FinderInfo", info, sizeof info, 0), 0) << path;
}

class AdvancedWindowControllerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Alert::setPresenter(alerts);
        OpenPanel::setPresenter(panels);
        // The main window it is a sheet on, with a user folder beside the two built-in records.
        mainWindow.resize(700, 500);
        mainWindow.show();
        ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(files.path(), XFSDiskOrDirectory::CleanMode::alwaysClean));
        controller = new AdvancedWindowController(&mainWindow);
        controller->setDelegate(&delegate);
    }

    void TearDown() override
    {
        if (controller->window()->isVisible())
            controller->window()->reject();
        Alert::setPresenter(nullptr);
        OpenPanel::setPresenter(nullptr);
    }

    template <typename T>
    T *outlet(const char *name)
    {
        T *found = controller->window()->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QAction *toolbarItem(int index) { return outlet<QToolBar>("toolbar")->actions().at(index); }

    void open(const std::string &name = "")
    {
        if (name.empty())
            controller->show();
        else
            controller->showWithNewBlackListItem(name);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    }

    void clickDone()
    {
        QTest::mouseClick(outlet<QPushButton>("doneButton"), Qt::LeftButton);
        ASSERT_TRUE(runEventLoopUntil([this] { return !controller->window()->isVisible(); }));
    }

    TemporaryPreferences preferences;
    TemporaryDirectory files;
    QMainWindow mainWindow;
    AdvancedWindowController *controller = nullptr;
    RecordingDelegate delegate;
    std::shared_ptr<ScriptedOpenPanel> panels = std::make_shared<ScriptedOpenPanel>();
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
};

TEST_F(AdvancedWindowControllerTest, AdvancedOpensOnTheFirstPageAsASheetOfTheMainWindow)
{
    delegate.pendingChecklistName = "from the checklist";
    open();
    QDialog *sheet = controller->window();
    EXPECT_EQ(sheet->objectName(), QLatin1String("AdvancedWindowController"));
    EXPECT_EQ(sheet->parentWidget(), &mainWindow);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(controller->tabView()->currentIndex(), 0);
    EXPECT_TRUE(toolbarItem(0)->isChecked());
    EXPECT_EQ(controller->toolbarSelectableItemIdentifiers(),
              (std::vector<QString>{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    // The main window's pending checklist edits reached the store before the tables were filled.
    EXPECT_EQ(delegate.storeCalls, 1);
    EXPECT_EQ(column(controller->blacklistController(), "name"), std::vector<std::string>{"from the checklist"});
    for (const char *name : {"blacklistController", "whitelistFolders", "tabTableController",
                             "advancedSpotlightArrayController"})
        EXPECT_NE(controller->findChild<ArrayController *>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(controller->tabView()->objectName(), QLatin1String("tabView"));
    EXPECT_EQ(controller->blackListTable()->objectName(), QLatin1String("blackListTable"));
    EXPECT_EQ(controller->advancedSpotlightContainerView()->objectName(), QLatin1String("advancedSpotlightContainerView"));
    saveScreenshot(sheet, "advanced-whitelist");

    // Escape ends the sheet like Done: the lists are saved and the main window gets the preferences.
    QTest::keyClick(sheet, Qt::Key_Escape);
    ASSERT_TRUE(runEventLoopUntil([sheet] { return !sheet->isVisible(); }));
    ASSERT_EQ(delegate.preferencesContents.size(), 1u);
    EXPECT_EQ(delegate.preferencesContents.front(), TarnwickStore::generalPreferences());

    open();
    sheet->close();
    ASSERT_TRUE(runEventLoopUntil([sheet] { return !sheet->isVisible(); }));
    EXPECT_EQ(delegate.preferencesContents.size(), 2u) << "closing the window ends the sheet too";
}

TEST_F(AdvancedWindowControllerTest, WithoutGeneralPreferencesOnlyTheBlackListIsSaved)
{
    PreferencesSupport::standardUserDefaults().removeObjectForKey("preferences");
    open("foo");
    clickDone();
    EXPECT_TRUE(delegate.preferencesContents.empty()) << "the main window's bindings keep what they had";
    EXPECT_EQ(blackListOf(XTWStore::shared().detailsForDisks()), (std::map<std::string, std::string>{{md5("foo"), "foo"}}));
}

TEST_F(AdvancedWindowControllerTest, ADroppedFileNameOpensTheBlackListPageWithItLastAndOnlyOnce)
{
    XFSDiskOrDirectory disks = XTWStore::shared().detailsForDisks();
    disks.update({{md5("first"), "first"}});
    XTWStore::shared().update(disks);

    open("x.tmp");
    EXPECT_EQ(controller->tabView()->currentIndex(), 1);
    EXPECT_TRUE(toolbarItem(1)->isChecked());
    EXPECT_EQ(column(controller->blacklistController(), "name"), (std::vector<std::string>{"first", "x.tmp"}));
    EXPECT_EQ(column(controller->blacklistController(), "uniqueKey"), (std::vector<std::string>{md5("first"), "<none>"}));
    saveScreenshot(controller->window(), "advanced-blacklist");
    clickDone();

    open("x.tmp");
    EXPECT_EQ(column(controller->blacklistController(), "name"), (std::vector<std::string>{"first", "x.tmp"}));
    EXPECT_EQ(column(controller->blacklistController(), "uniqueKey"), (std::vector<std::string>{md5("first"), md5("x.tmp")}));
    clickDone();

    // "Advanced..." opens on the first page again.
    open();
    EXPECT_EQ(controller->tabView()->currentIndex(), 0);
    EXPECT_TRUE(toolbarItem(0)->isChecked());
}

TEST_F(AdvancedWindowControllerTest, ANewRowReachesEveryRecordUnderItsDigestAndKeysStayStable)
{
    int detailsChanges = 0;
    const NotificationCenter::ObserverToken observer = NotificationCenter::defaultCenter().addObserver(
        TarnwickStore::detailsDidChangeNotification, nullptr, nullptr, [&detailsChanges](const Notification &) { ++detailsChanges; });

    open();
    toolbarItem(1)->trigger();
    QTest::mouseClick(outlet<QPushButton>("addBlacklistItemButton"), Qt::LeftButton);
    // The new row is being edited, its text selected, so typing replaces it.
    auto *editor = qobject_cast<QLineEdit *>(controller->blackListTable()->indexWidget(
        controller->blacklistController()->index(0, 0)));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->selectedText(), QLatin1String(AdvancedWindowController::newBlackListItemName));
    QTest::keyClicks(editor, "foo");
    // Done takes the edit that is still open.
    clickDone();
    EXPECT_EQ(column(controller->blacklistController(), "name"), std::vector<std::string>{"foo"});

    EXPECT_EQ(detailsChanges, 1);
    const std::vector<XFSDiskOrDirectory> records = everyRecord();
    ASSERT_EQ(records.size(), 3u);
    for (const XFSDiskOrDirectory &record : records)
        EXPECT_EQ(blackListOf(record), (std::map<std::string, std::string>{{md5("foo"), "foo"}})) << record.storageKey();
    // The store's own save writes it to the user defaults, from which a store loads it afresh.
    EXPECT_TRUE(runEventLoopUntil([] {
        const std::vector<BlackListItem> stored = XTWStore::create()->blackListItems();
        return stored == std::vector<BlackListItem>{{md5("foo"), "foo"}};
    }));

    // Renamed in the next opening, the row keeps its key.
    open();
    ASSERT_EQ(column(controller->blacklistController(), "uniqueKey"), std::vector<std::string>{md5("foo")});
    controller->blacklistController()->setData(controller->blacklistController()->index(0, 0), QStringLiteral("bar"));
    clickDone();
    for (const XFSDiskOrDirectory &record : everyRecord())
        EXPECT_EQ(blackListOf(record), (std::map<std::string, std::string>{{md5("foo"), "bar"}})) << record.storageKey();

    // A row whose name was emptied is dropped by Done and leaves every record.
    open();
    controller->blacklistController()->setData(controller->blacklistController()->index(0, 0), QString());
    clickDone();
    for (const XFSDiskOrDirectory &record : everyRecord())
        EXPECT_TRUE(blackListOf(record).empty()) << record.storageKey();
    NotificationCenter::defaultCenter().removeObserver(observer);
}

TEST_F(AdvancedWindowControllerTest, WhiteListFoldersAreStoredAsEscapedPatternsAndTheRootIsNeverAdded)
{
    const std::string bracketed = files.file("Photos [2019]");
    const std::string wild = files.file("What? *now*");
    const std::string plain = files.file("Plain");
    for (const std::string &folder : {bracketed, wild, plain, files.file("Photos 2"), files.file("Whatx anow")})
        std::filesystem::create_directories(folder);
    panels->urls = {URL::fileURLWithPath(bracketed), URL::fileURLWithPath("/"), URL::fileURLWithPath(wild),
                    URL::fileURLWithPath(plain)};

    open();
    QTest::mouseClick(outlet<QPushButton>("addWhitelistFolderButton"), Qt::LeftButton);
    ASSERT_EQ(panels->shown.size(), 1u);
    EXPECT_EQ(panels->shown[0].title, "Select a disk or folder");
    EXPECT_EQ(panels->shown[0].prompt, "Choose");
    EXPECT_TRUE(panels->shown[0].directories);
    EXPECT_FALSE(panels->shown[0].files);
    EXPECT_TRUE(panels->shown[0].several);
    const std::vector<std::string> patterns{files.path() + "/Photos [[]2019]/*", files.path() + "/What[?] [*]now[*]/*",
                                            plain + "/*"};
    EXPECT_EQ(column(controller->whitelistFolders(), "path"), patterns);
    saveScreenshot(controller->window(), "advanced-whitelist-filled");
    clickDone();

    EXPECT_EQ(XTWStore::whiteList(), patterns);
    EXPECT_TRUE(XEngine::isInWhiteList(bracketed + "/IMG_1.jpg"));
    EXPECT_TRUE(XEngine::isInWhiteList(wild + "/notes.txt"));
    EXPECT_TRUE(XEngine::isInWhiteList(plain + "/a/b"));
    EXPECT_FALSE(XEngine::isInWhiteList(files.file("Photos 2") + "/IMG_1.jpg"));
    EXPECT_FALSE(XEngine::isInWhiteList(files.file("Whatx anow") + "/notes.txt"));
    EXPECT_FALSE(XEngine::isInWhiteList(files.file("Plainer") + "/a"));

    // Removing a row in the next opening takes it out of the stored list.
    open();
    controller->whitelistFolders()->removeObjectsAtIndexes({0});
    clickDone();
    EXPECT_EQ(XTWStore::whiteList(), (std::vector<std::string>{patterns[1], patterns[2]}));
}

TEST_F(AdvancedWindowControllerTest, ExtensionsAreAddedUnlessTheListAlreadyHoldsThemAnywhere)
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value("docx"), "neverDeleteFileExtensions");
    for (const char *name : {"a.doc", "b.psd", "c", "d.ps", ".hidden", "e.key"})
        writeFile(files.file(name), "x");
    for (const char *name : {"a.doc", "b.psd", "c", "d.ps", ".hidden", "e.key"})
        panels->urls.push_back(URL::fileURLWithPath(files.file(name)));

    open();
    toolbarItem(2)->trigger();
    QTest::mouseClick(outlet<QPushButton>("chooseExtensionToAddButton"), Qt::LeftButton);
    ASSERT_EQ(panels->shown.size(), 1u);
    EXPECT_EQ(panels->shown[0].title, "Pick a document");
    EXPECT_TRUE(panels->shown[0].files);
    EXPECT_TRUE(panels->shown[0].several);
    EXPECT_EQ(defaults.stringForKey("neverDeleteFileExtensions"), "docx,psd,key");
    EXPECT_EQ(outlet<QLineEdit>("neverDeleteFileExtensionsField")->text(), QLatin1String("docx,psd,key"));
    EXPECT_TRUE(alerts->alerts.empty());

    panels->response = OpenPanel::cancelResponse;
    panels->urls = {URL::fileURLWithPath(files.file("z.zip"))};
    QTest::mouseClick(outlet<QPushButton>("chooseExtensionToAddButton"), Qt::LeftButton);
    EXPECT_EQ(defaults.stringForKey("neverDeleteFileExtensions"), "docx,psd,key");
}

TEST_F(AdvancedWindowControllerTest, ClassicTypesAreQuotedAndTypelessFilesAreNamedInOneAlert)
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    for (const char *name : {"letter.txt", "photo.psd", "plain one", "plain two", "again.txt"})
        writeFile(files.file(name), "x");
    setFinderType(files.file("letter.txt"), "TEXT");
    setFinderType(files.file("photo.psd"), "8BPS");
    setFinderType(files.file("again.txt"), "TEXT");
    setFinderType(files.file("plain two"), "\0\0\0\0");
    for (const char *name : {"letter.txt", "plain one", "photo.psd", "plain two", "again.txt"})
        panels->urls.push_back(URL::fileURLWithPath(files.file(name)));

    open();
    toolbarItem(2)->trigger();
    QTest::mouseClick(outlet<QPushButton>("chooseMacOSTypeToAddButton"), Qt::LeftButton);
    EXPECT_EQ(panels->shown.at(0).title, "Pick a document");
    EXPECT_EQ(defaults.stringForKey("neverDeleteMacOSTypes"), "'TEXT','8BPS'");
    EXPECT_EQ(outlet<QLineEdit>("neverDeleteMacOSTypesField")->text(), QLatin1String("'TEXT','8BPS'"));
    ASSERT_EQ(alerts->alerts.size(), 1u);
    const Alert &alert = alerts->alerts.front();
    EXPECT_EQ(alert.style(), Alert::Style::critical);
    EXPECT_EQ(alert.messageText(), "Sorry, missing type info.");
    EXPECT_EQ(alert.informativeText(), "The following files don't have Classic macOS Types: plain one, plain two");
    EXPECT_EQ(alert.buttonTitles(), std::vector<std::string>{"OK"});
    saveScreenshot(controller->window(), "advanced-never-delete");
}

TEST_F(AdvancedWindowControllerTest, SwitchingPagesSetsThePageHeightWithTheTopEdgeFixed)
{
    open();
    QDialog *sheet = controller->window();
    // Before the first showing the window is made 20 points taller than its page.
    EXPECT_EQ(sheet->height(), toolbarItem(0)->property("tag").toInt() + 20);
    for (int page : {2, 3, 1, 0}) {
        const int top = sheet->geometry().top();
        toolbarItem(page)->trigger();
        EXPECT_EQ(controller->tabView()->currentIndex(), page);
        EXPECT_EQ(sheet->height(), toolbarItem(page)->property("tag").toInt()) << page;
        EXPECT_EQ(sheet->geometry().top(), top) << page;
    }
    toolbarItem(3)->trigger();
    saveScreenshot(sheet, "advanced-logging");
}

TEST_F(AdvancedWindowControllerTest, TheBlackListTableTakesDroppedItemsButNoVolume)
{
    writeFile(files.file("dropped.tmp"), "x");
    open();
    QWidget *table = controller->blackListTable()->viewport();
    EXPECT_TRUE(table->acceptDrops());
    const auto drag = [](const std::string &path) {
        auto *mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        return mime;
    };
    const auto validates = [table](QMimeData *mime) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::LinkAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table, &enter);
        const bool accepted = enter.isAccepted() && enter.dropAction() == Qt::LinkAction;
        delete mime;
        return accepted;
    };
    const auto dropsOn = [table](QMimeData *mime) {
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction | Qt::LinkAction, mime, Qt::LeftButton, Qt::NoModifier);
        // A drop follows the drag's entry, as on the desktop.
        QDragEnterEvent enter(QPoint(10, 10), drop.possibleActions(), mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table, &enter);
        QApplication::sendEvent(table, &drop);
        const bool accepted = drop.isAccepted() && drop.dropAction() == Qt::LinkAction;
        delete mime;
        return accepted;
    };

    EXPECT_FALSE(validates(drag("/"))) << "a volume is refused";
    EXPECT_FALSE(validates(drag(files.file("gone")))) << "an item whose volume status cannot be read is refused";
    EXPECT_FALSE(validates(new QMimeData));
    EXPECT_TRUE(validates(drag(files.file("dropped.tmp"))));

    EXPECT_TRUE(dropsOn(drag(files.file("dropped.tmp"))));
    EXPECT_TRUE(dropsOn(drag(files.file("dropped.tmp"))));
    QMimeData withoutURL;
    withoutURL.setText(QStringLiteral("plain text"));
    EXPECT_TRUE(controller->tableViewAcceptDrop(&withoutURL)) << "a drop without a URL is accepted and changes nothing";
    EXPECT_EQ(column(controller->blacklistController(), "name"), std::vector<std::string>{"dropped.tmp"});
}

TEST_F(AdvancedWindowControllerTest, ForFolderSwitchesTheNameOnForThatFolderOnlyAndItsRowKeepsShowingTheFolder)
{
    panels->urls = {URL::fileURLWithPath("/")};
    open();
    toolbarItem(1)->trigger();
    QTest::mouseClick(outlet<QPushButton>("addBlacklistItemForDiskButton"), Qt::LeftButton);
    EXPECT_TRUE(controller->blacklistController()->content().empty()) << "the root folder is never taken";

    panels->urls = {URL::fileURLWithPath(files.path())};
    QTest::mouseClick(outlet<QPushButton>("addBlacklistItemForDiskButton"), Qt::LeftButton);
    ASSERT_EQ(panels->shown.size(), 2u);
    EXPECT_EQ(panels->shown[1].title, "Select a disk or folder for this blacklist item...");
    EXPECT_EQ(panels->shown[1].prompt, "Choose");
    EXPECT_TRUE(panels->shown[1].directories);
    EXPECT_FALSE(panels->shown[1].files);
    EXPECT_FALSE(panels->shown[1].several);
    EXPECT_TRUE(alerts->alerts.empty());
    EXPECT_EQ(column(controller->blacklistController(), "name"),
              std::vector<std::string>{AdvancedWindowController::newBlackListItemName});
    EXPECT_EQ(column(controller->blacklistController(), "path"), std::vector<std::string>{files.path()});
    EXPECT_EQ(controller->blacklistController()->index(0, 1).data().toString().toStdString(), files.path())
        << "the row shows its folder";
    auto *editor = qobject_cast<QLineEdit *>(controller->blackListTable()->indexWidget(
        controller->blacklistController()->index(0, 0)));
    ASSERT_NE(editor, nullptr) << "the new row's name is being edited";
    QTest::keyClicks(editor, "render.cache");
    saveScreenshot(controller->window(), "AdvancedBlackListForFolder");
    clickDone();

    // The name goes to every record, switched on only in the chosen folder's, so nothing else
    // is deleted unasked.
    const std::string folderKey = AdvancedWindowController::recordOfFolder(files.path())->storageKey();
    for (const XFSDiskOrDirectory &record : everyRecord()) {
        EXPECT_EQ(blackListOf(record), (std::map<std::string, std::string>{{md5("render.cache"), "render.cache"}}))
            << record.storageKey();
        const std::optional<XFSDetailsFlagItem> item = record.findFlag(md5("render.cache"));
        ASSERT_TRUE(item);
        EXPECT_EQ(item->enabled(), record.storageKey() == folderKey) << record.storageKey();
    }
    // In force for the next clean of that folder.
    const std::optional<XFSDiskOrDirectory> governing =
        XTWStore::shared().detailsForURL(URL::fileURLWithPath(files.path()), true, true);
    ASSERT_TRUE(governing);
    EXPECT_TRUE(governing->findFlag(md5("render.cache"))->enabled());

    // Opened again, the row shows its folder: the one record that switches the name on.
    open();
    toolbarItem(1)->trigger();
    EXPECT_EQ(column(controller->blacklistController(), "name"), std::vector<std::string>{"render.cache"});
    EXPECT_EQ(column(controller->blacklistController(), "path"), std::vector<std::string>{files.path()});
    EXPECT_EQ(controller->blacklistController()->index(0, 1).data().toString().toStdString(), files.path());
    saveScreenshot(controller->window(), "AdvancedBlackListForFolderReopened");
    clickDone();
    for (const XFSDiskOrDirectory &record : everyRecord())
        EXPECT_EQ(record.findFlag(md5("render.cache"))->enabled(), record.storageKey() == folderKey)
            << record.storageKey() << ": a second Done changes nothing";

    // After a restart: the preferences file read afresh once the store has saved it, the store
    // loaded from it.
    UserDefaults &defaults = UserDefaults::standardUserDefaults();
    ASSERT_TRUE(runEventLoopUntil([this, &folderKey] {
        const Dictionary onDisk = preferences.onDisk();
        const auto general = onDisk.find("preferences");
        const Dictionary *sourceItems = nullptr;
        if (general != onDisk.end() && general->second.asDictionary()) {
            const auto items = general->second.asDictionary()->find("sourceItems");
            if (items != general->second.asDictionary()->end())
                sourceItems = items->second.asDictionary();
        }
        const auto stored = sourceItems ? sourceItems->find(folderKey) : Dictionary::const_iterator();
        if (!sourceItems || stored == sourceItems->end() || !stored->second.asDictionary())
            return false;
        const std::optional<XFSDiskOrDirectory> record =
            XFSDiskOrDirectory::fromDictionary(folderKey, *stored->second.asDictionary());
        return record && record->findFlag(md5("render.cache")) && record->findFlag(md5("render.cache"))->enabled();
    }));
    defaults.setFilePathForTesting(defaults.filePath());
    PreferencesSupport::registerBundleDefaults(defaults);
    XTWStore::shared().load();
    open();
    EXPECT_EQ(column(controller->blacklistController(), "path"), std::vector<std::string>{files.path()});

    // Switched on for a second record too, the name is no longer one folder's: no folder shows.
    XFSDiskOrDirectory disks = XTWStore::shared().detailsForDisks();
    disks.updateFlags({disks.findFlag(md5("render.cache"))->withEnabled(true)});
    XTWStore::shared().update(disks);
    controller->window()->reject();
    ASSERT_TRUE(runEventLoopUntil([this] { return !controller->window()->isVisible(); }));
    open();
    EXPECT_EQ(column(controller->blacklistController(), "path"), std::vector<std::string>{"<none>"});
}

TEST_F(AdvancedWindowControllerTest, ForFolderRefusesAFolderWithoutSettingsOfItsOwn)
{
    const std::string inside = files.file("Renders");
    std::filesystem::create_directory(inside);
    panels->urls = {URL::fileURLWithPath(inside)};
    open();
    toolbarItem(1)->trigger();
    QTest::mouseClick(outlet<QPushButton>("addBlacklistItemForDiskButton"), Qt::LeftButton);
    EXPECT_TRUE(controller->blacklistController()->content().empty());
    ASSERT_EQ(alerts->alerts.size(), 1u);
    EXPECT_EQ(alerts->alerts[0].messageText(), "\"Renders\" is not in Tarnwick's list.");
    EXPECT_EQ(alerts->alerts[0].informativeText(), "Add it to the list in Tarnwick's window first, then choose it here.");
    clickDone();
    for (const XFSDiskOrDirectory &record : everyRecord())
        EXPECT_TRUE(blackListOf(record).empty()) << record.storageKey();
}

TEST_F(AdvancedWindowControllerTest, DetailedLoggingRecordsWhenItWasSwitchedOn)
{
    std::vector<std::string> systemLog;
    const int sink = SystemLog::addSink([&systemLog](const std::string &message) { systemLog.push_back(message); });
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    open();
    toolbarItem(3)->trigger();
    auto *checkbox = outlet<QCheckBox>("detailedLoggingCheckbox");
    EXPECT_FALSE(checkbox->isChecked());

    const Date before = Date::now();
    const QPoint box(6, checkbox->height() / 2);
    QTest::mouseClick(checkbox, Qt::LeftButton, {}, box);
    EXPECT_TRUE(defaults.boolForKey("detailedLogging"));
    const std::optional<Value> firstFired = defaults.objectForKey("detailedLoggingFirstFired");
    ASSERT_TRUE(firstFired && firstFired->asDate());
    EXPECT_GE(firstFired->asDate()->secondsSince1970, before.secondsSince1970 - 1);
    EXPECT_TRUE(TarnwickStore::sharedInstance().detailedLoggingEnabled());

    QTest::mouseClick(checkbox, Qt::LeftButton, {}, box);
    EXPECT_FALSE(defaults.boolForKey("detailedLogging"));
    EXPECT_FALSE(defaults.objectForKey("detailedLoggingFirstFired"));
    SystemLog::removeSink(sink);
    EXPECT_EQ(std::count(systemLog.begin(), systemLog.end(),
                         "** Detailed logging will automatically turn off after 12 hours. **"),
              1);
}
}
