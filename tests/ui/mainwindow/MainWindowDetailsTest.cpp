#include <QAbstractButton>
#include <QButtonGroup>
#include <QCollator>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QTest>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTreeView>

#include <map>

#include "MainUIController.h"
#include "MainWindowFixture.h"
#include "PreferencesSupport.h"
#include "Screenshot.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "XEngine.h"
#include "XTWStore.h"

namespace
{
QModelIndex leafIndex(QTreeView *table, const QString &title)
{
    const QAbstractItemModel *model = table->model();
    for (int group = 0; group < model->rowCount(); ++group) {
        const QModelIndex parent = model->index(group, 0);
        for (int row = 0; row < model->rowCount(parent); ++row)
            if (model->index(row, 0, parent).data().toString() == title)
                return model->index(row, 0, parent);
    }
    return {};
}

// A click on the radio's circle (the row is wider than what takes clicks).
void clickRadio(QAbstractButton *radio)
{
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(8, radio->height() / 2));
}

const std::string dsStoreTitle = "Finder .DS_Store files";

bool storedEnabled(const std::string &storageKey, const std::string &displayName)
{
    const std::optional<XFSDiskOrDirectory> record = XTWStore::shared().diskOrDirectoryDetailsForKey(storageKey);
    if (!record)
        return false;
    for (const XFSDetailsFlagItem &item : record->detailsFlags())
        if (item.displayName() == displayName)
            return item.enabled();
    ADD_FAILURE() << displayName;
    return false;
}
}

TEST_F(MainWindowTest, ChecklistHasTwoGroupsSortedBySortGroupThenByTheLocalesCollation)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    selectSourceRow(0);
    controller().populateDetailsTable();
    QTreeView *table = detailsTable();
    const QAbstractItemModel *model = table->model();
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->index(0, 0).data().toString(), QStringLiteral("Items to Delete"));
    EXPECT_EQ(model->index(1, 0).data().toString(), QStringLiteral("Options"));
    // Group rows have no checkbox; their leaves have one each.
    EXPECT_FALSE(model->index(0, 0).data(Qt::CheckStateRole).isValid());
    EXPECT_FALSE(model->flags(model->index(1, 0)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_TRUE(model->index(0, 0).data(Qt::FontRole).value<QFont>().bold());

    std::map<QString, XFSDetailsFlagItem> shown;
    for (const XFSDetailsFlagItem &item : XTWStore::shared().detailsForDisks().flagsItemsForDisplay())
        shown.emplace(QString::fromStdString(item.displayName()), item);
    QCollator collator;
    std::size_t leaves = 0;
    for (int group = 0; group < 2; ++group) {
        const std::vector<QString> titles = leafTitles(group);
        leaves += titles.size();
        for (std::size_t i = 0; i < titles.size(); ++i) {
            ASSERT_EQ(shown.count(titles[i]), 1u) << titles[i].toStdString();
            const XFSDetailsFlagItem &item = shown.at(titles[i]);
            EXPECT_EQ(item.type() == XFSDetailsFlagItem::ItemType::userOption, group == 1) << titles[i].toStdString();
            EXPECT_TRUE(model->index(static_cast<int>(i), 0, model->index(group, 0)).data(Qt::CheckStateRole).isValid());
            if (i == 0)
                continue;
            const XFSDetailsFlagItem &previous = shown.at(titles[i - 1]);
            const int before = static_cast<int>(previous.sortGroup());
            const int now = static_cast<int>(item.sortGroup());
            EXPECT_LE(before, now) << titles[i].toStdString();
            if (before == now) {
                EXPECT_LE(collator.compare(titles[i - 1], titles[i]), 0) << titles[i].toStdString();
            }
        }
    }
    EXPECT_EQ(leaves, shown.size());
    // The Windows kinds follow the Mac ones.
    const std::vector<QString> toDelete = leafTitles(0);
    const auto thumbs = std::find(toDelete.begin(), toDelete.end(), QStringLiteral("Windows Thumbs.db files"));
    const auto dsStore = std::find(toDelete.begin(), toDelete.end(), QString::fromStdString(dsStoreTitle));
    ASSERT_NE(thumbs, toDelete.end());
    ASSERT_NE(dsStore, toDelete.end());
    EXPECT_LT(dsStore, thumbs);
    // In English a lower-case name sorts among the capitalised ones by its letters.
    const auto desktopIni = std::find(toDelete.begin(), toDelete.end(), QStringLiteral("Windows desktop.ini files"));
    EXPECT_LT(desktopIni, thumbs);
    QLocale::setDefault(QLocale::c());
}

TEST_F(MainWindowTest, CaptionsNameTheRecordAndTheAskRowIsOnlyForBuiltIns)
{
    auto *group = outlet<QButtonGroup>("modeSwitchRadioGroup");
    auto *ask = outlet<QLabel>("textForAskRadioCaption");
    selectSourceRow(0);
    EXPECT_EQ(outlet<QLabel>("textForDontCleanRadioCaption")->text(), QStringLiteral("Tarnwick will ignore non Mac disks."));
    EXPECT_EQ(ask->text(), QStringLiteral("Tarnwick will prompt you when non Mac disks appear."));
    EXPECT_EQ(outlet<QLabel>("textForCleanRadioCaption")->text(),
              QStringLiteral("Tarnwick will keep non Mac disks free of metadata."));
    EXPECT_TRUE(group->button(1)->isEnabled());
    EXPECT_TRUE(ask->isEnabled());
    EXPECT_EQ(group->checkedId(), static_cast<int>(XTWStore::shared().detailsForDisks().mode()));

    selectSourceRow(1);
    EXPECT_EQ(outlet<QLabel>("textForDontCleanRadioCaption")->text(), QStringLiteral("Tarnwick will ignore network disks."));

    addFolderQuietly(makeFolder("Music"));
    EXPECT_EQ(outlet<QLabel>("textForDontCleanRadioCaption")->text(), QStringLiteral("Tarnwick will ignore \"Music\"."));
    EXPECT_EQ(outlet<QLabel>("textForCleanRadioCaption")->text(),
              QStringLiteral("Tarnwick will keep \"Music\" free of metadata."));
    EXPECT_FALSE(group->button(1)->isEnabled());
    EXPECT_FALSE(ask->isEnabled());
    EXPECT_NE(ask->palette().color(QPalette::Disabled, QPalette::WindowText),
              ask->palette().color(QPalette::Active, QPalette::WindowText));
    EXPECT_EQ(group->checkedId(), 2);
}

TEST_F(MainWindowTest, ModeChoiceIsStoredAndShowsTheChecklistOnlyForAlwaysClean)
{
    controller().window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller().window()));
    selectSourceRow(1);
    auto *container = outlet<QWidget>("detailsTableContainer");

    clickRadio(outlet<QAbstractButton>("dontCleanRadio"));
    EXPECT_EQ(XTWStore::shared().detailsForServers().mode(), XFSDiskOrDirectory::CleanMode::ignore);
    EXPECT_TRUE(container->isHidden());
    EXPECT_FALSE(detailsTable()->isEnabled());

    clickRadio(outlet<QAbstractButton>("askRadio"));
    EXPECT_EQ(XTWStore::shared().detailsForServers().mode(), XFSDiskOrDirectory::CleanMode::askToClean);
    EXPECT_TRUE(container->isHidden());

    clickRadio(outlet<QAbstractButton>("cleanRadio"));
    EXPECT_EQ(XTWStore::shared().detailsForServers().mode(), XFSDiskOrDirectory::CleanMode::alwaysClean);
    EXPECT_FALSE(container->isHidden());
    EXPECT_TRUE(detailsTable()->isEnabled());
    // The change is saved shortly after.
    const auto storedMode = [this] {
        const Dictionary items = env->sourceItemsOnDisk();
        const auto servers = items.find("servers");
        if (servers == items.end() || !servers->second.asDictionary())
            return std::int64_t(-1);
        const auto mode = servers->second.asDictionary()->find("mode");
        return mode != servers->second.asDictionary()->end() && mode->second.asInteger() ? *mode->second.asInteger()
                                                                                       : std::int64_t(-1);
    };
    QTRY_COMPARE(storedMode(), std::int64_t(2));
}

TEST_F(MainWindowTest, UncheckedItemSurvivesARecordSwitchAndARestart)
{
    selectSourceRow(0);
    const QModelIndex dsStore = leafIndex(detailsTable(), QString::fromStdString(dsStoreTitle));
    ASSERT_TRUE(dsStore.isValid());
    ASSERT_TRUE(storedEnabled("disks", dsStoreTitle));
    ASSERT_TRUE(detailsTable()->model()->setData(dsStore, Qt::Unchecked, Qt::CheckStateRole));

    selectSourceRow(1);
    EXPECT_FALSE(storedEnabled("disks", dsStoreTitle));
    EXPECT_TRUE(storedEnabled("servers", dsStoreTitle));
    selectSourceRow(0);
    EXPECT_EQ(leafIndex(detailsTable(), QString::fromStdString(dsStoreTitle)).data(Qt::CheckStateRole).toInt(),
              Qt::Unchecked);

    controller().savePreferences();
    // A restart: the preferences file read afresh, the store loaded from it, the list rebuilt.
    UserDefaults::standardUserDefaults().setFilePathForTesting(env->defaultsFile());
    PreferencesSupport::registerBundleDefaults(UserDefaults::standardUserDefaults());
    XTWStore::shared().load();
    sourceTable()->selectionModel()->clearSelection();
    controller().populateDetailsTable();
    controller().populateSourceTable();
    EXPECT_FALSE(storedEnabled("disks", dsStoreTitle));
    EXPECT_EQ(leafIndex(detailsTable(), QString::fromStdString(dsStoreTitle)).data(Qt::CheckStateRole).toInt(),
              Qt::Unchecked);
}

namespace
{
bool flagOn(const XFSDiskOrDirectory &record, const std::string &uniqueKey)
{
    const std::optional<XFSDetailsFlagItem> item = record.findFlag(uniqueKey);
    return item && item->enabled();
}

std::string storageKeyOf(const std::string &path)
{
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories())
        if (record.path() == path)
            return record.storageKey();
    return {};
}

// A click on the row's checkbox, where the style draws it.
void clickCheckBox(QTreeView *table, const QModelIndex &index)
{
    table->scrollTo(index);
    QStyleOptionViewItem option;
    option.initFrom(table->viewport());
    option.rect = table->visualRect(index);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = index.data().toString();
    const QRect box = table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, table);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, box.center());
}
}

TEST_F(MainWindowTest, ABoxClearedOnTheShownRowIsInForceForTheNextCleanAtOnce)
{
    const std::string folder = makeFolder("Shared Stick");
    addFolderQuietly(folder);
    writeFile(folder + "/.DS_Store", "Bud1");
    writeFile(folder + "/Thumbs.db", "thumbs");
    QMainWindow *window = controller().window();
    window->resize(720, 480);
    window->show();
    selectSourceTitle("Shared Stick");
    detailsTable()->expandAll();
    const QModelIndex dsStore = leafIndex(detailsTable(), QString::fromStdString(dsStoreTitle));
    ASSERT_TRUE(dsStore.isValid());
    ASSERT_EQ(dsStore.data(Qt::CheckStateRole).toInt(), Qt::Checked);

    // Cleared in the window, which stays on the folder's row.
    clickCheckBox(detailsTable(), dsStore);
    ASSERT_EQ(leafIndex(detailsTable(), QString::fromStdString(dsStoreTitle)).data(Qt::CheckStateRole).toInt(),
              Qt::Unchecked);
    saveScreenshot(window, "details-box-cleared-on-the-shown-row");
    EXPECT_EQ(controller().lastSelectedDiskOrDirectoryKey(), storageKeyOf(folder));
    const std::optional<XFSDiskOrDirectory> governing =
        XTWStore::shared().detailsForURL(URL::fileURLWithPath(folder + "/.DS_Store"), true, true);
    ASSERT_TRUE(governing);
    EXPECT_FALSE(flagOn(*governing, "dsstore")) << "the store has the change, not only the window";
    EXPECT_TRUE(flagOn(*governing, "thumbsdb"));

    // A clean made now keeps the .DS_Store and takes the rest.
    XEngine::cleanInResponseToUserRequest({URL::fileURLWithPath(folder)}, false);
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(folder + "/Thumbs.db"); }, std::chrono::seconds(30)));
    EXPECT_TRUE(fileExists(folder + "/.DS_Store"));
    for (QWidget *shown : QApplication::topLevelWidgets())
        if (shown->objectName() == QLatin1String("Progress") && shown->isVisible())
            shown->close();

    // The preferences file follows on its own, as every store update does.
    EXPECT_TRUE(runEventLoopUntil([&] {
        const Dictionary stored = env->sourceItemsOnDisk();
        const auto record = stored.find(storageKeyOf(folder));
        if (record == stored.end() || !record->second.asDictionary())
            return false;
        const std::optional<XFSDiskOrDirectory> read =
            XFSDiskOrDirectory::fromDictionary(record->first, *record->second.asDictionary());
        return read && !flagOn(*read, "dsstore");
    }));
}

TEST_F(MainWindowTest, FirstShowingLeavesBothGroupsClosed)
{
    selectSourceRow(0);
    EXPECT_FALSE(isGroupExpanded(0));
    EXPECT_FALSE(isGroupExpanded(1));
    selectSourceRow(1);
    EXPECT_FALSE(isGroupExpanded(0));
    EXPECT_FALSE(isGroupExpanded(1));
}

TEST_F(MainWindowTest, GroupExpansionIsKeptAcrossRecordSwitches)
{
    selectSourceRow(0);
    detailsTable()->setExpanded(detailsTable()->model()->index(0, 0), true);
    detailsTable()->setExpanded(detailsTable()->model()->index(1, 0), true);
    selectSourceRow(1);
    EXPECT_TRUE(isGroupExpanded(0));
    EXPECT_TRUE(isGroupExpanded(1));

    detailsTable()->setExpanded(detailsTable()->model()->index(1, 0), false);
    selectSourceRow(0);
    EXPECT_TRUE(isGroupExpanded(0));
    EXPECT_FALSE(isGroupExpanded(1));
    addFolderQuietly(makeFolder("Work"));
    EXPECT_TRUE(isGroupExpanded(0));
    EXPECT_FALSE(isGroupExpanded(1));
}
