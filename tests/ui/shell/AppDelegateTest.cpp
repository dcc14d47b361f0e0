#include "AppDelegate.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <gtest/gtest.h>

#include "LaunchFlags.h"
#include "PreferencesSupport.h"
#include "TestSupport.h"
#include "UserDefaults.h"

namespace
{
std::vector<std::string> titles(const QMenu &menu)
{
    std::vector<std::string> found;
    for (const QAction *action : menu.actions())
        found.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    return found;
}
}

TEST(AppDelegateTest, TheDockMenuIsTheStatusMenuWithoutItsVolumeRowsAndItsLastTwoItems)
{
    QMenu statusItems;
    statusItems.addAction("USB Stick");
    statusItems.addAction("Backup");
    statusItems.addSeparator();
    statusItems.addAction("Open Tarnwick");
    statusItems.addAction("Clean...");
    statusItems.addSeparator();
    statusItems.addAction("Preferences");
    statusItems.addAction("Quit Tarnwick");
    const std::vector<std::string> before = titles(statusItems);

    const std::unique_ptr<QMenu> dock = AppDelegate::dockMenuFromStatusItems(statusItems);
    EXPECT_EQ(titles(*dock), (std::vector<std::string>{"Open Tarnwick", "Clean...", "-"}));
    EXPECT_EQ(titles(statusItems), before) << "the status menu itself keeps every item";

    // The copy's items are the status menu's commands.
    int opened = 0;
    QObject::connect(statusItems.actions()[3], &QAction::triggered, [&opened] { ++opened; });
    dock->actions().constFirst()->trigger();
    EXPECT_EQ(opened, 1);
}

TEST(AppDelegateTest, ADockMenuOfAStatusMenuWithoutCommandsIsEmpty)
{
    QMenu rowsOnly;
    rowsOnly.addAction("USB Stick");
    EXPECT_TRUE(AppDelegate::dockMenuFromStatusItems(rowsOnly)->actions().isEmpty());
    QMenu separatorAndOne;
    separatorAndOne.addSeparator();
    separatorAndOne.addAction("Quit Tarnwick");
    EXPECT_TRUE(AppDelegate::dockMenuFromStatusItems(separatorAndOne)->actions().isEmpty());
}

namespace
{
// The launch flags and the two window switches, restored after each case.
class UntitledFileTest : public testing::Test
{
protected:
    ~UntitledFileTest() override
    {
        LaunchFlags::newVersionInstall = m_newVersionInstall;
        UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
        defaults.removeObjectForKey("kTWShowInDockKey");
        defaults.removeObjectForKey("NEVER_SHOW_WINDOW_ON_LAUNCH");
    }

    static void set(const char *key, bool value) { PreferencesSupport::standardUserDefaults().setObject(Value(value), key); }

    const bool m_newVersionInstall = LaunchFlags::newVersionInstall;
};
}

TEST_F(UntitledFileTest, TheWindowOpensAtLaunchOnlyAfterAnInstallOrUpdate)
{
    AppDelegate delegate;
    set("kTWShowInDockKey", false);
    LaunchFlags::newVersionInstall = false;
    EXPECT_FALSE(delegate.untitledFileShowsWindow()) << "the same build launched again";
    LaunchFlags::newVersionInstall = true;
    EXPECT_TRUE(delegate.untitledFileShowsWindow()) << "a first launch, or one after an update";
    set("NEVER_SHOW_WINDOW_ON_LAUNCH", true);
    EXPECT_FALSE(delegate.untitledFileShowsWindow());
    set("kTWShowInDockKey", true);
    set("NEVER_SHOW_WINDOW_ON_LAUNCH", false);
    EXPECT_FALSE(delegate.untitledFileShowsWindow());
}

TEST_F(UntitledFileTest, ALaterReopenShowsTheWindowUnlessShowInDockIsOn)
{
    AppDelegate delegate;
    LaunchFlags::newVersionInstall = false;
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(delegate.applicationHasFinishedLaunching());
    set("kTWShowInDockKey", false);
    set("NEVER_SHOW_WINDOW_ON_LAUNCH", true);
    EXPECT_TRUE(delegate.untitledFileShowsWindow()) << "the launch switch does not hold back a re-open";
    set("kTWShowInDockKey", true);
    EXPECT_FALSE(delegate.untitledFileShowsWindow());
    EXPECT_FALSE(delegate.applicationOpenUntitledFile());
}

TEST(AppDelegateWindowsTest, BecomingActiveBringsTheVisibleWindowsForwardAndKeepsTheUsersOne)
{
    QWidget chosen;
    QWidget other;
    QWidget hidden;
    chosen.show();
    other.show();
    chosen.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&chosen));

    std::vector<QWindow *> focusChanges;
    const QMetaObject::Connection recording = QObject::connect(
        qApp, &QGuiApplication::focusWindowChanged, [&focusChanges](QWindow *window) { focusChanges.push_back(window); });
    AppDelegate delegate;
    delegate.applicationDidBecomeActive();
    // The other window is brought forward, then the user's again.
    EXPECT_TRUE(runEventLoopUntil([&] {
        return std::find(focusChanges.begin(), focusChanges.end(), other.windowHandle()) != focusChanges.end()
               && focusChanges.back() == chosen.windowHandle();
    }));
    QObject::disconnect(recording);
    EXPECT_TRUE(chosen.isActiveWindow());
    EXPECT_TRUE(other.isVisible());
    EXPECT_FALSE(hidden.isVisible());
}
