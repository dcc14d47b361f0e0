#include "MainUIController.h"

#include <QApplication>
#include <QCheckBox>
#include <QPalette>
#include <QComboBox>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>

#include "CalendarClock.h"
#include "Core.h"
#include "KeyedArchive.h"
#include "Logger.h"
#include "MainUIControllerForTests.h"
#include "PreferencesSupport.h"
#include "ScopedMount.h"
#include "Screenshot.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "VolumesFolders.h"
#include "XEngine.h"
#include "XTWStore.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using CleanMode = XFSDiskOrDirectory::CleanMode;

namespace
{
const QTimeZone berlin("Europe/Berlin");

QDateTime inBerlin(int year, int month, int day, int hour, int minute, int second = 0, int millisecond = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, millisecond), berlin);
}

class MainUIControllerScheduleTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!berlin.isValid())
            GTEST_SKIP() << "the time zone database is not installed";
        m_picker = m_controller.scheduleView()->findChild<QTimeEdit *>("scheduleOptionsDatePicker");
        m_checkbox = m_controller.scheduleView()->findChild<QCheckBox *>("scheduleOptionsEnabledCheckbox");
        ASSERT_TRUE(m_picker && m_checkbox);
        m_controller.setCalendarClock(CalendarClock([now = m_now] { return *now; }, berlin));
        m_controller.setScheduleSources(
            [this] {
                ++m_volumeListings;
                return m_volumes;
            },
            [this](const std::vector<URL> &urls) {
                std::lock_guard lock(m_mutex);
                m_cleaned.push_back(urls);
            });
        m_controller.setScheduleRearmDelay(5.0f);
        defaults().removeObjectForKey("scheduleDay");
    }

    void TearDown() override
    {
        defaults().setObject(Value(false), "scheduledCleaningEnabled");
        m_controller.setupScheduledCleanOptions();
        m_controller.setScheduleSources([] { return Core::buildRWVolumeURLList(); },
                                        [](const std::vector<URL> &urls) { XEngine::cleanScheduled(urls); });
        m_controller.setCalendarClock(CalendarClock());
        m_controller.setScheduleRearmDelay(5.0f);
        for (const XFSDiskOrDirectory &record : m_addedRecords)
            XTWStore::shared().remove(record);
        XTWStore::shared().update(m_disksBefore);
    }

    static UserDefaults &defaults() { return PreferencesSupport::standardUserDefaults(); }

    // The schedule on at the picked time, stored as the pane stores it, and armed.
    void scheduleAt(int hour, int minute)
    {
        const Data archived = KeyedArchive::archivedDataWithDate(
            Date{static_cast<double>(inBerlin(2026, 1, 1, hour, minute).toMSecsSinceEpoch()) / 1000.0});
        defaults().setObject(Value(archived), "scheduledCleaningDate");
        defaults().setObject(Value(true), "scheduledCleaningEnabled");
        m_controller.setupScheduledCleanOptions();
    }

    std::size_t cleanCount()
    {
        std::lock_guard lock(m_mutex);
        return m_cleaned.size();
    }

    void addRecord(const std::string &path, CleanMode mode = CleanMode::alwaysClean)
    {
        ASSERT_TRUE(XTWStore::shared().addDetailsForVolumeAtPath(path, mode)) << path;
        const std::optional<XFSDiskOrDirectory> record = XTWStore::shared().detailsForURL(URL::fileURLWithPath(path), false, false);
        ASSERT_TRUE(record);
        m_addedRecords.push_back(*record);
    }

    static bool contains(const std::vector<URL> &urls, const std::string &path)
    {
        return std::find(urls.begin(), urls.end(), URL::fileURLWithPath(path)) != urls.end();
    }

    MainUIController &m_controller = mainUIControllerForTests();
    std::shared_ptr<QDateTime> m_now = std::make_shared<QDateTime>(inBerlin(2026, 3, 10, 10, 0));
    QTimeEdit *m_picker = nullptr;
    QCheckBox *m_checkbox = nullptr;
    std::vector<URL> m_volumes;
    std::atomic<int> m_volumeListings{0};
    std::mutex m_mutex;
    std::vector<std::vector<URL>> m_cleaned;
    std::vector<XFSDiskOrDirectory> m_addedRecords;
    XFSDiskOrDirectory m_disksBefore = XTWStore::shared().detailsForDisks();
};
}

TEST_F(MainUIControllerScheduleTest, APickedTimeAlreadyPastTodayIsArmedForTomorrow)
{
    scheduleAt(9, 0);
    EXPECT_EQ(m_picker->time(), QTime(9, 0)) << "the stored time shows in the picker";
    EXPECT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 3, 11, 9, 0));
    const QList<QTimer *> timers = m_controller.findChildren<QTimer *>(QStringLiteral("scheduleCleanTimer"));
    EXPECT_TRUE(std::any_of(timers.begin(), timers.end(), [](const QTimer *timer) { return timer->isActive(); }));

    *m_now = inBerlin(2026, 3, 10, 8, 0);
    m_controller.setupScheduledCleanOptions();
    EXPECT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 3, 10, 9, 0));

    defaults().setObject(Value(false), "scheduledCleaningEnabled");
    m_controller.setupScheduledCleanOptions();
    EXPECT_EQ(m_controller.scheduledCleaningFireDate(), std::nullopt) << "off: no timer";
}

TEST_F(MainUIControllerScheduleTest, ThePickedTimeHoldsOnTheDaysTheClocksChange)
{
    // Summer time starts on 29 March 2026 at 02:00: that day has 23 hours.
    *m_now = inBerlin(2026, 3, 28, 10, 0);
    scheduleAt(9, 0);
    ASSERT_TRUE(m_controller.scheduledCleaningFireDate());
    EXPECT_EQ(m_controller.scheduledCleaningFireDate()->toUTC(), QDateTime(QDate(2026, 3, 29), QTime(7, 0), QTimeZone::utc()));
    EXPECT_EQ(m_now->secsTo(*m_controller.scheduledCleaningFireDate()), 22 * 3600);

    // It ends on 25 October 2026 at 03:00: that day has 25 hours.
    *m_now = inBerlin(2026, 10, 24, 10, 0);
    m_controller.setupScheduledCleanOptions();
    ASSERT_TRUE(m_controller.scheduledCleaningFireDate());
    EXPECT_EQ(m_controller.scheduledCleaningFireDate()->toUTC(), QDateTime(QDate(2026, 10, 25), QTime(8, 0), QTimeZone::utc()));
    EXPECT_EQ(m_now->secsTo(*m_controller.scheduledCleaningFireDate()), 24 * 3600);
}

TEST_F(MainUIControllerScheduleTest, TheWeekdayFilter)
{
    const struct
    {
        std::optional<int> scheduleDay;
        QDateTime day;
        bool fires;
    } cases[] = {
        {std::nullopt, inBerlin(2026, 3, 14, 9, 0), true}, // Saturday
        {0, inBerlin(2026, 3, 14, 9, 0), true},
        {3, inBerlin(2026, 3, 16, 9, 0), true},
        {1, inBerlin(2026, 3, 14, 9, 0), false},
        {1, inBerlin(2026, 3, 15, 9, 0), false}, // Sunday
        {1, inBerlin(2026, 3, 16, 9, 0), true},  // Monday
        {2, inBerlin(2026, 3, 15, 9, 0), true},
        {2, inBerlin(2026, 3, 20, 9, 0), false}, // Friday
    };
    for (const auto &[scheduleDay, day, fires] : cases) {
        if (scheduleDay)
            defaults().setObject(Value(*scheduleDay), "scheduleDay");
        else
            defaults().removeObjectForKey("scheduleDay");
        *m_now = day;
        EXPECT_EQ(m_controller.scheduleShouldFireOnThisDay(), fires) << day.toString().toStdString();
    }
}

TEST_F(MainUIControllerScheduleTest, WeekdaysOnlyOnASaturdayCleansNothingAndArmsTheNextDay)
{
    *m_now = inBerlin(2026, 3, 14, 8, 0);
    scheduleAt(9, 0);
    defaults().setObject(Value(1), "scheduleDay");
    *m_now = inBerlin(2026, 3, 14, 9, 0, 0, 2);
    m_controller.scheduledCleaningTimerFired();
    EXPECT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 3, 15, 9, 0));
    runEventLoopFor(100ms);
    EXPECT_EQ(m_volumeListings, 0);
    EXPECT_EQ(cleanCount(), 0u);
}

TEST_F(MainUIControllerScheduleTest, ATimerThatFiresEarlyIsNotArmedAgainForTheSameDay)
{
    // Armed a millisecond ahead; the calendar's clock then stands still, so the timer fires early
    // by its reckoning.
    *m_now = inBerlin(2026, 3, 10, 8, 59, 59, 999);
    scheduleAt(9, 0);
    ASSERT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 3, 10, 9, 0));
    EXPECT_TRUE(runEventLoopUntil([this] { return m_controller.scheduledCleaningFireDate() == inBerlin(2026, 3, 11, 9, 0); }));
    runEventLoopFor(100ms);
    EXPECT_EQ(m_volumeListings, 1) << "one firing for the day";
    EXPECT_EQ(cleanCount(), 0u) << "nothing to clean: the engine is not called";
}

TEST_F(MainUIControllerScheduleTest, AScheduleSwitchedOffNeverFiresFromATimerArmedBefore)
{
    // Armed a quarter of a second ahead of the picked time.
    *m_now = inBerlin(2026, 4, 7, 8, 59, 59, 750);
    m_volumes = {URL::fileURLWithPath("/")};
    scheduleAt(9, 0);
    m_checkbox->setChecked(true);
    ASSERT_TRUE(m_controller.scheduledCleaningFireDate());

    // Switched off; the re-arm waits five seconds, the armed timer fires before it.
    m_checkbox->click();
    EXPECT_FALSE(defaults().boolForKey("scheduledCleaningEnabled"));
    *m_now = inBerlin(2026, 4, 7, 9, 0, 0, 1);
    // Well before the five-second re-arm: the armed timer fired and found the schedule off.
    EXPECT_TRUE(runEventLoopUntil([this] { return !m_controller.scheduledCleaningFireDate(); }, 3s));
    runEventLoopFor(100ms);
    EXPECT_EQ(m_volumeListings, 0);
    EXPECT_EQ(cleanCount(), 0u);
}

TEST_F(MainUIControllerScheduleTest, ABurstOfChangesReArmsOnceAfterTheLast)
{
    m_controller.setScheduleRearmDelay(2.0f);
    scheduleAt(9, 0);
    m_checkbox->setChecked(true);
    ASSERT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 3, 11, 9, 0));

    const auto start = std::chrono::steady_clock::now();
    m_picker->setTime(QTime(11, 1));
    runEventLoopFor(200ms);
    m_picker->setTime(QTime(11, 2));
    runEventLoopFor(200ms);
    m_picker->setTime(QTime(11, 3));
    const auto lastChange = std::chrono::steady_clock::now();
    // The change is stored at once, as the archive the picker's date makes.
    const std::optional<Value> stored = defaults().objectForKey("scheduledCleaningDate");
    ASSERT_TRUE(stored && stored->asData());
    const std::optional<Date> storedDate = KeyedArchive::unarchivedDate(*stored->asData());
    ASSERT_TRUE(storedDate);
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(storedDate->secondsSince1970 * 1000), berlin).time(), QTime(11, 3));

    // Past the first change's delay but within the last one's: nothing re-armed yet.
    runEventLoopUntil([&] { return std::chrono::steady_clock::now() - start > 2200ms; }, 3s);
    if (std::chrono::steady_clock::now() - lastChange < 1900ms) {
        EXPECT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 3, 11, 9, 0));
    }
    EXPECT_TRUE(runEventLoopUntil([this] { return m_controller.scheduledCleaningFireDate() == inBerlin(2026, 3, 10, 11, 3); }));
}

TEST_F(MainUIControllerScheduleTest, AThemeChangeDropsThePendingReArmUntilTheHourlyOne)
{
    *m_now = inBerlin(2026, 5, 5, 10, 0);
    m_controller.setScheduleRearmDelay(0.5f);
    scheduleAt(9, 0);
    m_checkbox->setChecked(true);
    ASSERT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 5, 6, 9, 0));

    m_picker->setTime(QTime(11, 0));
    const QPalette original = QApplication::palette();
    QPalette changed = original;
    changed.setColor(QPalette::Window, original.color(QPalette::Window).darker(110));
    QApplication::setPalette(changed);
    QApplication::setPalette(original);
    runEventLoopFor(1200ms);
    EXPECT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 5, 6, 9, 0)) << "the re-arm was cancelled";

    // What the hourly timer does.
    m_controller.setupScheduledCleanOptions();
    EXPECT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 5, 5, 11, 0));
}

TEST_F(MainUIControllerScheduleTest, TheHelpTextAndThePaneAsShown)
{
    const auto *helpText = m_controller.scheduleView()->findChild<QTextEdit *>("scheduleHelpText");
    ASSERT_NE(helpText, nullptr);
    EXPECT_EQ(helpText->toPlainText(),
              QString::fromUtf8("Enable scheduled cleaning to have Tarnwick clean connected disks at a specific time. "
                                "This is useful to keep clean network disks or shared disks which are being accessed by "
                                "Macs which aren\u2019t using Tarnwick.\n\nNote: Your computer must be awake at the "
                                "specified cleaning time. Only connected disks will be cleaned."));
    auto *dayChoice = m_controller.scheduleView()->findChild<QComboBox *>("scheduleDayChoice");
    ASSERT_NE(dayChoice, nullptr);
    dayChoice->setCurrentIndex(2);
    EXPECT_EQ(defaults().integerForKey("scheduleDay"), 2);
    dayChoice->setCurrentIndex(0);
    EXPECT_EQ(defaults().integerForKey("scheduleDay"), 0);

    scheduleAt(9, 30);
    m_checkbox->setChecked(true);
    QWidget *pane = m_controller.scheduleView();
    pane->resize(520, 300);
    EXPECT_FALSE(saveScreenshot(pane, "schedule-pane").empty());
}

TEST_F(MainUIControllerScheduleTest, WakingFromSleepReArms)
{
    scheduleAt(9, 0);
    ASSERT_EQ(m_controller.scheduledCleaningFireDate(), inBerlin(2026, 3, 11, 9, 0));
    *m_now = inBerlin(2026, 3, 12, 7, 0);
    NotificationCenter::workspaceCenter().post("NSWorkspaceDidWakeNotification");
    EXPECT_TRUE(runEventLoopUntil([this] { return m_controller.scheduledCleaningFireDate() == inBerlin(2026, 3, 12, 9, 0); }));
}

// Real disks: what a scheduled clean takes.
class ScheduledCollectionTest : public MainUIControllerScheduleTest
{
protected:
    void SetUp() override
    {
        MainUIControllerScheduleTest::SetUp();
        VolumesFolders::registerFolderForTesting(m_volumesFolder.path());
    }
    void TearDown() override
    {
        MainUIControllerScheduleTest::TearDown();
        VolumesFolders::unregisterFolderForTesting(m_volumesFolder.path());
    }

    std::string volume(const std::string &name) const
    {
        const std::string path = m_volumesFolder.file(name);
        fs::create_directories(path);
        return path;
    }

    TemporaryDirectory m_volumesFolder;
};

TEST_F(ScheduledCollectionTest, FoldersAreAddedOnlyForDisksNotTakenWhole)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting needs root";
    // A non-Linux disk governed by the built-in "disks" record, and one with a record of its own.
    const std::string builtInDisk = volume("STICK");
    const ScopedMount stick("ramfs", builtInDisk);
    const std::string ownDisk = volume("BACKUP");
    const ScopedMount backup("tmpfs", ownDisk, "tmpfs", "size=4m");
    ASSERT_TRUE(stick.isMounted() && backup.isMounted());
    fs::create_directories(builtInDisk + "/Photos");
    fs::create_directories(ownDisk + "/Work");
    XTWStore::shared().update(XTWStore::shared().detailsForDisks().copyWithNewCleanMode(CleanMode::alwaysClean));
    addRecord(ownDisk);
    addRecord(builtInDisk + "/Photos");
    addRecord(ownDisk + "/Work");

    const std::vector<URL> urls = MainUIController::collectScheduledCleaningURLs(
        {URL::fileURLWithPath(builtInDisk), URL::fileURLWithPath(ownDisk)});
    EXPECT_TRUE(contains(urls, builtInDisk));
    EXPECT_TRUE(contains(urls, ownDisk));
    EXPECT_TRUE(contains(urls, builtInDisk + "/Photos")) << "its disk was taken through the built-in record";
    EXPECT_FALSE(contains(urls, ownDisk + "/Work")) << "its disk is cleaned whole already";
    EXPECT_LT(std::find(urls.begin(), urls.end(), URL::fileURLWithPath(ownDisk)),
              std::find(urls.begin(), urls.end(), URL::fileURLWithPath(builtInDisk + "/Photos")))
        << "volumes come first";

    // The whole clean, through the engine: one call with the same list.
    m_volumes = {URL::fileURLWithPath(builtInDisk), URL::fileURLWithPath(ownDisk)};
    scheduleAt(9, 0);
    m_controller.scheduledCleaningTimerFired();
    ASSERT_TRUE(runEventLoopUntil([this] { return cleanCount() == 1; }));
    std::lock_guard lock(m_mutex);
    EXPECT_EQ(m_cleaned.front(), urls);
}

TEST_F(ScheduledCollectionTest, AFolderOnADiskGoneOrReplacedIsSkipped)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting needs root";
    const std::string disk = volume("CARD");
    std::optional<ScopedMount> card;
    card.emplace("tmpfs", disk, "tmpfs", "size=4m");
    ASSERT_TRUE(card->isMounted());
    fs::create_directories(disk + "/DCIM");
    addRecord(disk + "/DCIM");
    EXPECT_TRUE(contains(MainUIController::collectScheduledCleaningURLs({}), disk + "/DCIM"));

    card.reset();
    EXPECT_FALSE(contains(MainUIController::collectScheduledCleaningURLs({}), disk + "/DCIM")) << "not mounted";

    // Another disk now at the same place, with the same folder on it.
    const ScopedMount other("tmpfs", disk, "tmpfs", "size=8m");
    ASSERT_TRUE(other.isMounted());
    fs::create_directories(disk + "/DCIM");
    EXPECT_FALSE(contains(MainUIController::collectScheduledCleaningURLs({}), disk + "/DCIM")) << "another disk";
}

TEST_F(ScheduledCollectionTest, ADiskWhoseOwnRecordSaysDontCleanIsNotTakenAsAFolder)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting needs root";
    const std::string disk = volume("ARCHIVE");
    const ScopedMount archive("ramfs", disk);
    ASSERT_TRUE(archive.isMounted()) << archive.failure();
    fs::create_directories(disk + "/Letters");
    XTWStore::shared().update(XTWStore::shared().detailsForDisks().copyWithNewCleanMode(CleanMode::alwaysClean));
    addRecord(disk, CleanMode::ignore);
    addRecord(disk + "/Letters");

    const std::vector<URL> urls = MainUIController::collectScheduledCleaningURLs({URL::fileURLWithPath(disk)});
    EXPECT_FALSE(contains(urls, disk)) << "the disk's own record says not to clean it";
    EXPECT_TRUE(contains(urls, disk + "/Letters")) << "a folder with a record of its own on it still is";
}

TEST_F(ScheduledCollectionTest, AScheduledCleanFollowsNoLinkPutOnARecordsPathSinceItWasChosen)
{
    TemporaryDirectory shared;
    TemporaryDirectory victim;
    for (const std::string &folder : {shared.file("team/project"), victim.file("project")}) {
        fs::create_directories(folder + "/sub");
        writeFile(folder + "/.DS_Store", "x");
        writeFile(folder + "/sub/.DS_Store", "x");
    }
    addRecord(shared.file("team/project"));
    // The folder above the kept one moved away, and a link to another folder put in its place.
    fs::rename(shared.file("team"), shared.file("team.old"));
    fs::create_directory_symlink(victim.path(), shared.file("team"));

    const std::vector<URL> urls = MainUIController::collectScheduledCleaningURLs({});
    ASSERT_TRUE(contains(urls, shared.file("team/project")));
    XEngine::cleanScheduled(urls);

    const std::string line = "Not cleaned: " + shared.file("team/project") + ": Too many levels of symbolic links";
    EXPECT_TRUE(runEventLoopUntil([&] { return Logger::shared().logContents().value_or("").find(line) != std::string::npos; }));
    EXPECT_TRUE(fileExists(victim.file("project/.DS_Store")));
    EXPECT_TRUE(fileExists(victim.file("project/sub/.DS_Store")));
}
