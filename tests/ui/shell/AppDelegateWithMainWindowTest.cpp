#include <QAction>
#include <QMainWindow>
#include <QMenu>

#include <algorithm>
#include <map>
#include <sstream>

#include "AppDelegate.h"
#include "Bundle.h"
#include "LaunchFlags.h"
#include "LogWindowController.h"
#include "LauncherCommands.h"
#include "MainUIController.h"
#include "MainWindowFixture.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "XTWStore.h"

namespace
{
std::vector<std::string> texts(const QList<QAction *> &actions)
{
    std::vector<std::string> found;
    for (const QAction *action : actions)
        found.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    return found;
}

// The tray menu's fixed commands: its items below the first separator, separators left out.
std::vector<std::string> fixedCommands(const QMenu &statusItems)
{
    std::vector<std::string> commands;
    bool belowFirstSeparator = false;
    for (const QAction *item : statusItems.actions()) {
        if (item->isSeparator())
            belowFirstSeparator = true;
        else if (belowFirstSeparator)
            commands.push_back(item->text().toStdString());
    }
    return commands;
}

// The launcher actions of the desktop file, in its order: the name of each and its command.
std::vector<std::pair<std::string, std::string>> launcherActions()
{
    const std::optional<std::string> path = Bundle::main().pathForResource("tarnwick", "desktop");
    EXPECT_TRUE(path.has_value());
    std::map<std::string, std::string> names;
    std::vector<std::string> order;
    std::istringstream lines(path ? readFile(*path) : std::string());
    std::string line;
    std::string group;
    while (std::getline(lines, line)) {
        if (line.starts_with("[Desktop Action "))
            group = line.substr(16, line.size() - 17);
        else if (line.starts_with("Actions="))
            for (std::istringstream list(line.substr(8)); std::getline(list, line, ';');)
                order.push_back(line);
        else if (!group.empty() && line.starts_with("Name="))
            names[group] = line.substr(5);
    }
    std::vector<std::pair<std::string, std::string>> actions;
    for (const std::string &command : order)
        actions.emplace_back(names[command], command);
    return actions;
}

class AppDelegateWithMainWindowTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        m_delegate.setPreferencesController(&controller());
    }
    void TearDown() override
    {
        LaunchFlags::newVersionInstall = m_newVersionInstall;
        PreferencesSupport::standardUserDefaults().removeObjectForKey("kTWShowInDockKey");
        MainWindowTest::TearDown();
    }

    AppDelegate m_delegate;
    const bool m_newVersionInstall = LaunchFlags::newVersionInstall;
};
}

TEST_F(AppDelegateWithMainWindowTest, TheLauncherOffersTheTrayMenusFixedCommandsAndTheDockMenuAllButTheLastTwo)
{
    QMenu *statusItems = controller().statusItems();
    ASSERT_NE(statusItems, nullptr);
    const std::vector<std::string> commands = fixedCommands(*statusItems);
    ASSERT_FALSE(commands.empty());

    std::vector<std::string> launcherNames;
    std::vector<std::string> launcherCommandNames;
    for (const auto &[name, command] : launcherActions()) {
        launcherNames.push_back(name);
        launcherCommandNames.push_back(command);
    }
    EXPECT_EQ(launcherNames, commands);
    std::vector<std::string> known;
    for (const LauncherCommand &command : launcherCommands())
        known.push_back(command.name);
    EXPECT_EQ(launcherCommandNames, known);

    // The Dock menu: the fixed commands without the last separator and "Quit Tarnwick".
    const std::unique_ptr<QMenu> dock = m_delegate.applicationDockMenu();
    EXPECT_EQ(texts(dock->actions()), std::vector<std::string>(commands.begin(), commands.end() - 1));
}

TEST_F(AppDelegateWithMainWindowTest, EachLauncherCommandRunsItsTrayCommand)
{
    controller().window()->hide();
    EXPECT_TRUE(m_delegate.performLauncherCommand("show-window"));
    EXPECT_TRUE(controller().window()->isVisible());

    EXPECT_TRUE(m_delegate.performLauncherCommand("choose-and-clean"));
    EXPECT_TRUE(m_delegate.performLauncherCommand("choose-and-clean-attributes"));
    EXPECT_EQ(panels->titles,
              (std::vector<std::string>{"Pick a disk, folder or archive to clean...", "Pick folder or file to clean..."}));
    EXPECT_FALSE(m_delegate.performLauncherCommand("format-disk"));
}

TEST_F(AppDelegateWithMainWindowTest, TheUntitledFileStepShowsTheHiddenWindowOnlyWhenItShould)
{
    controller().window()->hide();
    PreferencesSupport::standardUserDefaults().setObject(Value(false), "kTWShowInDockKey");
    LaunchFlags::newVersionInstall = false;
    EXPECT_FALSE(m_delegate.applicationOpenUntitledFile());
    EXPECT_FALSE(controller().window()->isVisible()) << "the same build launched again";

    LaunchFlags::newVersionInstall = true;
    EXPECT_FALSE(m_delegate.applicationOpenUntitledFile());
    EXPECT_TRUE(controller().window()->isVisible()) << "a first launch";
}

TEST_F(AppDelegateWithMainWindowTest, LosingTheFocusAndQuittingSaveWhatWasNotSavedYet)
{
    using CleanMode = XFSDiskOrDirectory::CleanMode;
    std::vector<std::string> lines;
    const int sink = SystemLog::addSink([&lines](const std::string &line) { lines.push_back(line); });

    const auto savedServersMode = [] { return XTWStore::create()->detailsForServers().mode(); };
    for (const CleanMode mode : {CleanMode::alwaysClean, CleanMode::ignore}) {
        // A change whose own save is still waiting for its delay.
        XTWStore::shared().update(XTWStore::shared().detailsForServers().copyWithNewCleanMode(mode));
        ASSERT_NE(savedServersMode(), mode);
        if (mode == CleanMode::alwaysClean)
            m_delegate.applicationWillResignActive();
        else
            m_delegate.applicationWillTerminate();
        EXPECT_EQ(savedServersMode(), mode);
    }
    SystemLog::removeSink(sink);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Tarnwick has quit."), 1);
}

TEST_F(AppDelegateWithMainWindowTest, TheShowLogItemsOfBothMenusOpenTheLogWindow)
{
    for (const char *name : {"showLogItem", "showLogMenuItem"}) {
        action(name)->trigger();
        ASSERT_NE(LogWindowController::shared(), nullptr) << name;
        QWidget *log = LogWindowController::shared()->window();
        EXPECT_TRUE(log->isVisible()) << name;
        log->close();
        EXPECT_EQ(LogWindowController::shared(), nullptr) << "its closing reaches the delegate";
    }
}

