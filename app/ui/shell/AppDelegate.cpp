#include "AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QWindow>

#include "Core.h"
#include "LaunchFlags.h"
#include "LogWindowController.h"
#include "MainUIController.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "URL.h"
#include "UserDefaults.h"
#include "XEngine.h"
#include "XEngineFSEvents.h"

namespace
{
AppDelegate *g_sharedDelegate = nullptr;
}

AppDelegate::AppDelegate()
{
    g_sharedDelegate = this;
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &AppDelegate::applicationStateChanged);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
}

AppDelegate::~AppDelegate()
{
    if (g_sharedDelegate == this)
        g_sharedDelegate = nullptr;
}

AppDelegate *AppDelegate::shared()
{
    return g_sharedDelegate;
}

void AppDelegate::initialize()
{
    MainUIController::checkIfNewInstall();
}

void AppDelegate::setPreferencesController(MainUIController *controller)
{
    m_preferencesController = controller;
    // The interface file's "Show Log" items (gear menu, tray menu) are aimed at the delegate.
    if (controller && controller->window()) {
        for (QAction *item : controller->window()->findChildren<QAction *>()) {
            if (item->objectName() == QLatin1String("showLogMenuItem") || item->objectName() == QLatin1String("showLogItem"))
                connect(item, &QAction::triggered, this, &AppDelegate::showLogUserAction);
        }
    }
}

void AppDelegate::applicationWillFinishLaunching()
{
    Core::sharedInstance();
    XEngineFSEvents::defaultWatcher().makeThread();
    appWillFinishLaunchingSwift();
}

void AppDelegate::appWillFinishLaunchingSwift()
{
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_applicationHasFinishedLaunching = true;
}

bool AppDelegate::applicationOpenUntitledFile()
{
    if (untitledFileShowsWindow() && m_preferencesController && !m_preferencesController->window()->isVisible())
        m_preferencesController->show();
    return false;
}

bool AppDelegate::untitledFileShowsWindow() const
{
    // At launch the window opens by itself only after an install or update; a later re-open can.
    if (!LaunchFlags::newVersionInstall && !m_applicationHasFinishedLaunching)
        return false;
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (defaults.boolForKey("kTWShowInDockKey"))
        return false;
    return !defaults.boolForKey("NEVER_SHOW_WINDOW_ON_LAUNCH") || m_applicationHasFinishedLaunching;
}

std::unique_ptr<QMenu> AppDelegate::applicationDockMenu()
{
    return applicationDockMenuSwift();
}

std::unique_ptr<QMenu> AppDelegate::applicationDockMenuSwift()
{
    if (!m_preferencesController || !m_preferencesController->statusItems())
        return std::make_unique<QMenu>();
    return dockMenuFromStatusItems(*m_preferencesController->statusItems());
}

std::unique_ptr<QMenu> AppDelegate::dockMenuFromStatusItems(const QMenu &statusItems)
{
    auto menu = std::make_unique<QMenu>();
    // The copy shares the status menu's actions; taking one out of the copy leaves the original.
    menu->addActions(statusItems.actions());
    while (!menu->actions().isEmpty() && !menu->actions().constFirst()->isSeparator())
        menu->removeAction(menu->actions().constFirst());
    for (int removal = 0; removal < 3 && !menu->actions().isEmpty(); ++removal)
        menu->removeAction(removal == 0 ? menu->actions().constFirst() : menu->actions().constLast());
    return menu;
}

void AppDelegate::applicationOpenFiles(const std::vector<std::string> &paths)
{
    applicationSwiftOpenFiles(paths);
}

void AppDelegate::applicationSwiftOpenFiles(const std::vector<std::string> &paths)
{
    std::vector<URL> urls;
    urls.reserve(paths.size());
    for (const std::string &path : paths) {
        SystemLog::write("Asked to clean " + path);
        urls.push_back(URL::fileURLWithPath(path));
    }
    XEngine::cleanInResponseToUserRequest(urls, std::nullopt);
}

void AppDelegate::applicationWillResignActive()
{
    if (m_preferencesController)
        m_preferencesController->savePreferences();
}

void AppDelegate::applicationWillTerminate()
{
    if (m_preferencesController)
        m_preferencesController->savePreferences();
    SystemLog::write("Tarnwick has quit.");
}

void AppDelegate::applicationDidBecomeActive()
{
    QWindow *focused = QGuiApplication::focusWindow();
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible() || window == focused)
            continue;
        window->raise();
        window->requestActivate();
    }
    // The window the user brought forward stays the one with the keyboard.
    if (focused) {
        focused->raise();
        focused->requestActivate();
    }
}

bool AppDelegate::performLauncherCommand(const std::string &command)
{
    MainUIController *controller = m_preferencesController;
    if (command == "show-window" && controller)
        controller->show();
    else if (command == "choose-and-clean" && controller)
        controller->cleanUsingTarnwickMenuAction();
    else if (command == "choose-and-clean-attributes" && controller)
        controller->cleanUsingTarnwickMenuActionAlternate();
    else if (command == "show-log")
        showLogUserAction();
    else if (command == "quit")
        terminate();
    else {
        SystemLog::write("Tarnwick has no command \"" + command + "\".");
        return false;
    }
    return true;
}

void AppDelegate::terminate()
{
    QCoreApplication::quit();
}

void AppDelegate::showLogUserAction()
{
    // Shows the log window, whose closing then reaches windowWillClose.
    LogWindowController::showLogUserAction();
}

void AppDelegate::windowWillClose()
{
    LogWindowController::windowWillClose();
}

void AppDelegate::applicationStateChanged(Qt::ApplicationState state)
{
    const bool wasActive = m_lastState == Qt::ApplicationActive;
    m_lastState = state;
    if (state == Qt::ApplicationActive && !wasActive)
        applicationDidBecomeActive();
    else if (state != Qt::ApplicationActive && wasActive)
        applicationWillResignActive();
}
