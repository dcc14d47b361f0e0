#include "MainUIController.h"

#include <QApplication>
#include <QMenu>
#include <QPalette>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTest>

#include <filesystem>
#include <gtest/gtest.h>

#include "Alert.h"
#include "DateFormatter.h"
#include "GCDAdditions.h"
#include "MainUIControllerForTests.h"
#include "MountWatcher.h"
#include "NotificationCenter.h"
#include "PreferencesSupport.h"
#include "UserDefaults.h"
#include "ScopedIconTheme.h"
#include "ScopedMount.h"
#include "Screenshot.h"
#include "StatisticsManager.h"
#include "StatusMenuItemViewController.h"
#include "TWVolumeInfo.h"
#include "TestSupport.h"
#include "VolumeMetaDataStatistics.h"
#include "VolumesFolders.h"
#include "XTWStore.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
QDateTime localTime(int year, int month, int day, int hour, int minute, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), QTimeZone::systemTimeZone());
}

Date dateOf(const QDateTime &moment)
{
    return Date{static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0};
}

std::string mediumTime(const Date &date)
{
    return DateFormatter(DateFormatter::Style::None, DateFormatter::Style::Medium).stringFromDate(date);
}

// Real volumes inside a volumes folder of their own.
class MainUIControllerStatusItemTest : public testing::Test
{
protected:
    void SetUp() override
    {
        VolumesFolders::registerFolderForTesting(m_volumes.path());
        // A panel shows the tray item, as on a desktop with a tray.
        MainUIController::setSystemTrayAvailableForTesting(true);
        m_controller.statisticsManagerUpdate();
    }

    void TearDown() override
    {
        if (m_controller.statusItems()->isVisible())
            m_controller.statusItems()->hide();
        MainUIController::setSystemTrayAvailableForTesting(std::nullopt);
        VolumesFolders::unregisterFolderForTesting(m_volumes.path());
    }

    std::string volume(const std::string &name) const
    {
        const std::string path = m_volumes.file(name);
        fs::create_directories(path);
        return path;
    }

    StatusMenuItemViewController *rowFor(const std::string &volumePath) const
    {
        for (StatusMenuItemViewController *row : m_controller.statusMenuItemViewControllers())
            if (row->details() && row->details()->volumeURL().path() == volumePath)
                return row;
        return nullptr;
    }

    int menuIndexOf(const StatusMenuItemViewController *row) const
    {
        const QList<QAction *> items = m_controller.statusItems()->actions();
        for (int index = 0; index < items.size(); ++index)
            if (items.at(index)->data().value<QObject *>() == row)
                return index;
        return -1;
    }

    int firstSeparatorIndex() const
    {
        const QList<QAction *> items = m_controller.statusItems()->actions();
        for (int index = 0; index < items.size(); ++index)
            if (items.at(index)->isSeparator())
                return index;
        return -1;
    }

    // Lets the statistics' announcement reach the controller.
    static void deliverStatistics()
    {
        StatisticsManager::shared().scheduleUpdate();
        runEventLoopUntil([] { return !StatisticsManager::shared().updateScheduled(); });
        runEventLoopFor(50ms);
    }

    MainUIController &m_controller = mainUIControllerForTests();
    const ScopedIconTheme m_iconTheme;
    TemporaryDirectory m_volumes;
};
}

TEST(StatusMenuItemViewControllerTest, RowTextsSayWhatWasCleanedAndWhen)
{
    TemporaryDirectory folder;
    const URL volumeURL = URL::fileURLWithPath(folder.path());
    const QString name = QString::fromStdString(volumeURL.displayName());
    const CalendarClock clock([] { return localTime(2026, 5, 14, 12, 0); }, QTimeZone::systemTimeZone());
    auto details = std::make_shared<VolumeMetaDataStatistics>(volumeURL);

    StatusMenuItemViewController row;
    row.setCalendarClock(clock);
    row.setDetails(details);
    row.setupWithDetailsForPath(volumeURL);
    EXPECT_EQ(row.volumeName()->text(), name);
    EXPECT_EQ(row.dsStoreAppleDoubleStatsText()->text(), "The disk has not been cleaned.");
    EXPECT_EQ(row.cleanButton()->text(), "Clean");

    const Date today = dateOf(localTime(2026, 5, 14, 10, 15, 30));
    details->setNumberOfItemsDeleted(12);
    details->setLastCleaned(today);
    details->setLastFolderCleanedName("Photos");
    row.setupWithDetailsForPath(volumeURL);
    EXPECT_EQ(row.volumeName()->text(), name + ": 12 items cleaned.");
    EXPECT_EQ(row.dsStoreAppleDoubleStatsText()->text().toStdString(),
              "Last cleaned: \"Photos\".  Today,  " + mediumTime(today) + ".");
    EXPECT_EQ(row.plainTitle(), row.volumeName()->text() + "\n" + row.dsStoreAppleDoubleStatsText()->text());

    // The volume itself as the last folder is not named again.
    details->setLastFolderCleanedName(name.toStdString());
    EXPECT_EQ(StatusMenuItemViewController::lastCleanedText(*details, name, clock).toStdString(),
              "Today,  " + mediumTime(today) + ".");

    const Date lateYesterday = dateOf(localTime(2026, 5, 13, 23, 59));
    details->setLastCleaned(lateYesterday);
    EXPECT_EQ(StatusMenuItemViewController::lastCleanedText(*details, name, clock).toStdString(),
              "Yesterday,  " + mediumTime(lateYesterday) + ".");

    const Date tomorrow = dateOf(localTime(2026, 5, 15, 0, 30));
    details->setLastCleaned(tomorrow);
    EXPECT_EQ(StatusMenuItemViewController::lastCleanedText(*details, name, clock).toStdString(),
              "Tomorrow,  " + mediumTime(tomorrow) + ".");

    const Date older = dateOf(localTime(2026, 5, 1, 8, 5));
    details->setLastCleaned(older);
    details->setLastFolderCleanedName("Work");
    EXPECT_EQ(StatusMenuItemViewController::lastCleanedText(*details, name, clock).toStdString(),
              "Last cleaned: \"Work\".  "
                  + DateFormatter(DateFormatter::Style::Medium, DateFormatter::Style::None).stringFromDate(older)
                  + " at " + mediumTime(older) + ".");

    row.view()->resize(row.view()->sizeHint());
    EXPECT_FALSE(saveScreenshot(row.view(), "status-menu-row").empty());
}

TEST_F(MainUIControllerStatusItemTest, RowsStayAsTheyAreWhileTheMenuIsOpenAndFollowWhenItCloses)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a ramfs needs root";
    const std::string disk = volume("RAMDISK");
    const ScopedMount ramfs("ramfs", disk);
    ASSERT_TRUE(ramfs.isMounted()) << ramfs.failure();
    const std::string nativeDisk = volume("TMPDISK");
    const ScopedMount tmpfs("tmpfs", nativeDisk);
    ASSERT_TRUE(tmpfs.isMounted()) << tmpfs.failure();

    m_controller.statisticsManagerUpdate();
    StatusMenuItemViewController *row = rowFor(disk);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->volumeName()->text(), "RAMDISK");
    EXPECT_EQ(row->dsStoreAppleDoubleStatsText()->text(), "The disk has not been cleaned.");
    EXPECT_GE(menuIndexOf(row), 0);
    EXPECT_LT(menuIndexOf(row), firstSeparatorIndex()) << "rows stand above the fixed commands";
    // A Linux disk format counts as the system's own, as "/" does: neither gets a row.
    EXPECT_EQ(rowFor(nativeDisk), nullptr);
    EXPECT_EQ(rowFor("/"), nullptr);
    const QList<QAction *> items = m_controller.statusItems()->actions();
    EXPECT_EQ(items.last()->text(), "Quit Tarnwick") << "the fixed commands stay";

    QMenu *menu = m_controller.statusItems();
    menu->popup(QPoint(40, 40));
    ASSERT_TRUE(runEventLoopUntil([this] { return m_controller.statusMenuIsVisible(); }));
    EXPECT_FALSE(saveScreenshot(menu, "status-menu-open").empty());

    StatisticsManager::shared().volumeItemFor(URL::fileURLWithPath(disk))->update("Photos");
    deliverStatistics();
    ASSERT_EQ(rowFor(disk), row) << "an open menu is never changed";
    EXPECT_EQ(row->volumeName()->text(), "RAMDISK");

    const QPointer<StatusMenuItemViewController> shownWhileOpen = row;
    menu->hide();
    ASSERT_TRUE(runEventLoopUntil([&] { return shownWhileOpen.isNull() && rowFor(disk); }));
    StatusMenuItemViewController *updated = rowFor(disk);
    EXPECT_EQ(updated->volumeName()->text(), "RAMDISK: 1 items cleaned.");
    EXPECT_TRUE(updated->dsStoreAppleDoubleStatsText()->text().startsWith("Last cleaned: \"Photos\".  Today,  "))
        << updated->dsStoreAppleDoubleStatsText()->text().toStdString();

    menu->popup(QPoint(40, 40));
    ASSERT_TRUE(runEventLoopUntil([this] { return m_controller.statusMenuIsVisible(); }));
    EXPECT_TRUE(runEventLoopUntil([&] {
        const StatusMenuItemViewController *shown = rowFor(disk);
        const QLabel *icon = shown ? shown->icon() : nullptr;
        return icon && !icon->pixmap().isNull();
    })) << "the disk's icon";
    EXPECT_FALSE(saveScreenshot(menu, "status-menu-after-a-clean").empty());
    menu->hide();
}

TEST_F(MainUIControllerStatusItemTest, ANetworkVolumeGetsARowOnlyOnceSomethingWasDeletedOnIt)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting needs root";
    const std::string share = volume("SHARE");
    // A ramfs mounted from a network-looking source, which the volume facts count as a server.
    const ScopedMount server("ramfs", share, "fileserver:/export", "");
    ASSERT_TRUE(server.isMounted());
    TWVolumeInfo facts;
    ASSERT_EQ(CFUGetVolumeInfo(share, &facts), 0);
    ASSERT_TRUE(facts.isServer());

    m_controller.statisticsManagerUpdate();
    EXPECT_EQ(rowFor(share), nullptr);

    StatisticsManager::shared().volumeItemFor(URL::fileURLWithPath(share))->update("Projects");
    deliverStatistics();
    ASSERT_TRUE(runEventLoopUntil([&] { return rowFor(share) != nullptr; }));
    StatusMenuItemViewController *row = rowFor(share);
    EXPECT_EQ(row->volumeName()->text(), "SHARE: 1 items cleaned.");
}

TEST_F(MainUIControllerStatusItemTest, CleanOnARowCleansThatVolume)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a ramfs needs root";
    const std::string disk = volume("CLEANDISK");
    const ScopedMount ramfs("ramfs", disk);
    ASSERT_TRUE(ramfs.isMounted()) << ramfs.failure();
    fs::create_directories(disk + "/Documents");
    writeFile(disk + "/.DS_Store", "x");
    writeFile(disk + "/Documents/.DS_Store", "x");
    writeFile(disk + "/Documents/report.txt", "kept");

    m_controller.statisticsManagerUpdate();
    StatusMenuItemViewController *row = rowFor(disk);
    ASSERT_NE(row, nullptr);
    QMenu *menu = m_controller.statusItems();
    menu->popup(QPoint(40, 40));
    ASSERT_TRUE(runEventLoopUntil([this] { return m_controller.statusMenuIsVisible(); }));

    row->cleanButton()->click();
    EXPECT_TRUE(runEventLoopUntil([menu] { return !menu->isVisible(); })) << "the menu closes first";
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(disk + "/.DS_Store") && !fileExists(disk + "/Documents/.DS_Store"); }));
    EXPECT_TRUE(fileExists(disk + "/Documents/report.txt"));

    // Trays that show the menu as plain text: choosing the row's title cleans as well.
    writeFile(disk + "/.DS_Store", "x");
    // The deletions reach the statistics, and so the rows, on the main thread a moment later.
    ASSERT_TRUE(runEventLoopUntil([&] {
        const StatusMenuItemViewController *counted = rowFor(disk);
        return counted && counted->plainTitle().startsWith("CLEANDISK: 2 items cleaned.\n");
    }));
    QAction *plainRow = m_controller.statusItems()->actions().at(menuIndexOf(rowFor(disk)));
    EXPECT_EQ(plainRow->text(), rowFor(disk)->plainTitle());
    plainRow->trigger();
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(disk + "/.DS_Store"); }));

    // The user's clean left the disk a record that keeps it clean.
    if (const std::optional<XFSDiskOrDirectory> record = XTWStore::shared().detailsForURL(URL::fileURLWithPath(disk), false, false))
        XTWStore::shared().remove(*record);
    // The rows follow the deletions once the run's window is done with.
    runEventLoopFor(200ms);
}

TEST_F(MainUIControllerStatusItemTest, TwoQuickThemeChangesRebuildTheTrayItemOnce)
{
    ASSERT_NE(m_controller.statusMenu(), nullptr) << "\"statusItemVisible\" is on from the first start";
    EXPECT_EQ(m_controller.statusMenu()->objectName(), QLatin1String("statusMenu"));
    const QPointer<QSystemTrayIcon> before = m_controller.statusMenu();
    const QPalette original = QApplication::palette();
    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));

    QApplication::setPalette(dark);
    QApplication::setPalette(original);
    EXPECT_EQ(before, m_controller.statusMenu()) << "the rebuild waits a tenth of a second";
    ASSERT_TRUE(runEventLoopUntil([&before] { return before.isNull(); }));
    const QPointer<QSystemTrayIcon> rebuilt = m_controller.statusMenu();
    ASSERT_FALSE(rebuilt.isNull());
    runEventLoopFor(400ms);
    EXPECT_FALSE(rebuilt.isNull()) << "the second change did not rebuild it again";
    EXPECT_EQ(rebuilt, m_controller.statusMenu());
    EXPECT_EQ(rebuilt->contextMenu(), m_controller.statusItems());
    EXPECT_FALSE(rebuilt->icon().isNull());
}

namespace
{
// The lightness of the drawn pixels of the tray image.
int inkLightness(const QIcon &icon)
{
    const QImage image = icon.pixmap(16, 16).toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 200)
                return QColor(image.pixel(x, y)).lightness();
    return -1;
}
}

TEST_F(MainUIControllerStatusItemTest, ADarkPanelGetsTheTemplateImageInLightInk)
{
    const QPalette original = QApplication::palette();
    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
    ASSERT_NE(m_controller.statusMenu(), nullptr);
    EXPECT_LT(inkLightness(m_controller.statusMenu()->icon()), 128) << "dark ink on a light panel";

    QApplication::setPalette(dark);
    EXPECT_TRUE(runEventLoopUntil([this] {
        return m_controller.statusMenu() && inkLightness(m_controller.statusMenu()->icon()) > 200;
    })) << "light ink on a dark panel";

    QApplication::setPalette(original);
    EXPECT_TRUE(runEventLoopUntil([this] {
        const QSystemTrayIcon *tray = m_controller.statusMenu();
        return tray && inkLightness(tray->icon()) >= 0 && inkLightness(tray->icon()) < 128;
    }));
}

TEST_F(MainUIControllerStatusItemTest, TheTrayItemGoesWhenTurnedOffAndComesBack)
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value(false), "statusItemVisible");
    m_controller.statusItemVisibleChanged();
    EXPECT_EQ(m_controller.statusMenu(), nullptr);
    m_controller.rebuildStatusItem();
    EXPECT_EQ(m_controller.statusMenu(), nullptr) << "a rebuild keeps it off";

    defaults.setObject(Value(true), "statusItemVisible");
    m_controller.statusItemVisibleChanged();
    ASSERT_NE(m_controller.statusMenu(), nullptr);
    EXPECT_EQ(m_controller.statusMenu()->contextMenu(), m_controller.statusItems());
}

TEST_F(MainUIControllerStatusItemTest, ARowOfAVolumeThatWentIsDroppedAndItsCleanNeverCleansWhatIsThereNow)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a ramfs needs root";
    const std::string disk = volume("TWSTICK");
    auto first = std::make_unique<ScopedMount>("ramfs", disk);
    ASSERT_TRUE(first->isMounted()) << first->failure();
    MountWatcher watcher;
    watcher.start();
    m_controller.statisticsManagerUpdate();
    ASSERT_NE(rowFor(disk), nullptr);
    const std::size_t records = XTWStore::shared().userSuppliedDisksOrDirectories().size();
    QMenu *menu = m_controller.statusItems();

    // The volume goes while the menu is open, so its row stays in sight; the empty folder it
    // leaves behind holds metadata of the start-up disk.
    menu->popup(QPoint(40, 40));
    ASSERT_TRUE(runEventLoopUntil([this] { return m_controller.statusMenuIsVisible(); }));
    const QPointer<StatusMenuItemViewController> stale = rowFor(disk);
    first.reset();
    writeFile(disk + "/.DS_Store", "start-up disk");
    stale->cleanButton()->click();
    EXPECT_TRUE(runEventLoopUntil([menu] { return !menu->isVisible(); }));
    ASSERT_TRUE(runEventLoopUntil([&] { return stale.isNull(); })) << "the closed menu drops the row";
    EXPECT_EQ(rowFor(disk), nullptr);
    runEventLoopFor(500ms);
    EXPECT_TRUE(fileExists(disk + "/.DS_Store")) << "the folder left behind is not cleaned";
    EXPECT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().size(), records) << "no record is made";
    fs::remove(disk + "/.DS_Store");

    // Another disk of the same name and size mounted at the same place is another volume: a row
    // of the first one does not clean it.
    auto second = std::make_unique<ScopedMount>("ramfs", disk);
    ASSERT_TRUE(second->isMounted()) << second->failure();
    ASSERT_TRUE(runEventLoopUntil([&] { return rowFor(disk) != nullptr; })) << "a new volume gets its row";
    writeFile(disk + "/.DS_Store", "second disk");
    menu->popup(QPoint(40, 40));
    ASSERT_TRUE(runEventLoopUntil([this] { return m_controller.statusMenuIsVisible(); }));
    const QPointer<StatusMenuItemViewController> ofSecond = rowFor(disk);
    {
        ScopedMount third("ramfs", disk);
        ASSERT_TRUE(third.isMounted()) << third.failure();
        ofSecond->cleanButton()->click();
        runEventLoopFor(500ms);
        EXPECT_EQ(XTWStore::shared().userSuppliedDisksOrDirectories().size(), records);
    }
    EXPECT_TRUE(fileExists(disk + "/.DS_Store")) << "the second disk, under the third, is untouched";
    EXPECT_TRUE(runEventLoopUntil([&] { return ofSecond.isNull(); }));

    // A row of the volume that is there now cleans it.
    m_controller.statisticsManagerUpdate();
    ASSERT_NE(rowFor(disk), nullptr);
    rowFor(disk)->cleanNowAction();
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(disk + "/.DS_Store"); }));
    const URL diskURL = URL::fileURLWithPath(disk);
    if (const std::optional<XFSDiskOrDirectory> record = XTWStore::shared().detailsForURL(diskURL, false, false))
        XTWStore::shared().remove(*record);
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String("Progress") && window->isVisible())
            window->close();

    // With the menu closed, the row goes as soon as its volume does.
    second.reset();
    EXPECT_TRUE(runEventLoopUntil([&] { return rowFor(disk) == nullptr; }));
}

TEST_F(MainUIControllerStatusItemTest, RowsAreRebuiltOnceForABurstOfUpdatesAndWithoutATrayOnlyWhenTheMenuOpens)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a ramfs needs root";
    const std::string disk = volume("BURSTDISK");
    const ScopedMount ramfs("ramfs", disk);
    ASSERT_TRUE(ramfs.isMounted()) << ramfs.failure();
    // The start-up's own refresh of the rows, a tiny delay after the controller woke, comes first:
    // delayed blocks run in the order of their deadlines.
    bool settled = false;
    GCDAdditions::performBlockAfterDelay(0.05f, [&settled] { settled = true; });
    ASSERT_TRUE(runEventLoopUntil([&settled] { return settled; }));
    m_controller.statisticsManagerUpdate();
    const QPointer<StatusMenuItemViewController> first = rowFor(disk);
    ASSERT_NE(first, nullptr);

    for (int update = 0; update < 5; ++update)
        NotificationCenter::defaultCenter().post(StatisticsManager::updatedNotificationName);
    EXPECT_EQ(rowFor(disk), first) << "the rebuild waits a tenth of a second";
    ASSERT_TRUE(runEventLoopUntil([&] { return first.isNull(); }));
    const QPointer<StatusMenuItemViewController> rebuilt = rowFor(disk);
    ASSERT_NE(rebuilt, nullptr);
    runEventLoopFor(300ms);
    ASSERT_EQ(rowFor(disk), rebuilt) << "five updates, one rebuild";

    // Without a tray nobody sees the rows: they wait for the menu to open.
    MainUIController::setSystemTrayAvailableForTesting(false);
    StatisticsManager::shared().volumeItemFor(URL::fileURLWithPath(disk))->update("Music");
    deliverStatistics();
    runEventLoopFor(300ms);
    ASSERT_EQ(rowFor(disk), rebuilt);
    EXPECT_EQ(rebuilt->volumeName()->text(), "BURSTDISK");
    QMenu *menu = m_controller.statusItems();
    menu->popup(QPoint(40, 40));
    ASSERT_TRUE(runEventLoopUntil([this] { return m_controller.statusMenuIsVisible(); }));
    ASSERT_NE(rowFor(disk), nullptr);
    EXPECT_EQ(rowFor(disk)->volumeName()->text(), "BURSTDISK: 1 items cleaned.") << "the opening menu is up to date";
    menu->hide();
}
