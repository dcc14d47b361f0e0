#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

class MainUIController;
class QMenu;

// The application's delegate: start-up in its order, the untitled-file decision, the Dock menu,
// items handed over to clean, the launcher's commands, saving when the application loses the
// focus or quits, and the log window. Lives for the whole process; main thread only.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    AppDelegate();
    ~AppDelegate() override;

    // The delegate main made; null before.
    static AppDelegate *shared();

    // Before the interface file loads: whether this build is new.
    static void initialize();

    bool applicationHasFinishedLaunching() const { return m_applicationHasFinishedLaunching; }
    MainUIController *preferencesController() const { return m_preferencesController; }
    // Also aims the interface file's "Show Log" items at the delegate.
    void setPreferencesController(MainUIController *controller);

    // The disk-arrival service and the background watcher's thread.
    void applicationWillFinishLaunching();
    void appWillFinishLaunchingSwift();
    void applicationDidFinishLaunching();
    // Launch, and a later start without paths: shows the main window when the settings say so.
    // Always false.
    bool applicationOpenUntitledFile();
    // Whether the untitled-file step shows the main window (when it is not already visible).
    bool untitledFileShowsWindow() const;
    // The status menu's fixed commands: a copy of statusItems without the volume rows, the first
    // separator and the last two items. The caller owns it.
    std::unique_ptr<QMenu> applicationDockMenu();
    std::unique_ptr<QMenu> applicationDockMenuSwift();
    static std::unique_ptr<QMenu> dockMenuFromStatusItems(const QMenu &statusItems);
    // Items handed to Tarnwick (its command line, or another start's): cleaned as one request.
    void applicationOpenFiles(const std::vector<std::string> &paths);
    void applicationSwiftOpenFiles(const std::vector<std::string> &paths);
    void applicationWillResignActive();
    void applicationWillTerminate();
    void applicationDidBecomeActive();

    // A launcher command handed over by another start: runs the status menu's command of that
    // name. False (with a system-log line) when there is none.
    bool performLauncherCommand(const std::string &command);

    // Ends Tarnwick the one way: the quit steps run, the instance's socket goes. Menu, tray,
    // launcher and SIGTERM/SIGINT all come here.
    static void terminate();

public slots:
    // The gear menu's "Show Log".
    void showLogUserAction();
    // The log window closed: the next "Show Log" builds a new one.
    void windowWillClose();

private:
    void applicationStateChanged(Qt::ApplicationState state);

    bool m_applicationHasFinishedLaunching = false;
    MainUIController *m_preferencesController = nullptr;
    Qt::ApplicationState m_lastState = Qt::ApplicationInactive;
};
