#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTextDocumentFragment>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AdvancedWindowDelegate.h"
#include "URL.h"
#include "XFSDiskOrDirectory.h"

class AdvancedWindowController;
class NodeTreeModel;
class PreferencesController;
class SoftwareUpdater;
class Node;
class QAbstractButton;
class QAction;
class QButtonGroup;
class QDialog;
class QFrame;
class QLabel;
class QMainWindow;
class QMenu;
class QMimeData;
class QModelIndex;
class QSystemTrayIcon;
class QTextEdit;
class QTimeEdit;
class QTimer;
class QToolButton;
class QTreeView;
class QWidget;

// The main window's controller: the source list, the details checklist with the clean-mode choice,
// the schedule pane, the status-bar (tray) item and its menu, the help panel, the login item and the
// window's menus. One object for the whole process, made from the main interface files
// (MainWindow.ui, ScheduleView.ui, HelpPanel.ui); every outlet's object name is its name here.
// Everything runs on the main thread.
//
// The operations are spread over files named after each concern:
//   MainUIController.cpp            loading the interface files, the singleton, the new-install check
//   MainUIControllerStartup.cpp     awakeFromNib and the preferences set-up
//   MainUIControllerWindow.cpp      show, saving, menus, Dock, quit, clean command, store variant, advice
//   MainUIControllerLoginItem.cpp   the login item
//   MainUIControllerSourceList.cpp  the source list
//   MainUIControllerDetails.cpp     the details checklist and the clean mode
//   MainUIControllerStatusItem.cpp  the tray item and its volume rows
//   MainUIControllerSchedule.cpp    scheduled cleaning
//   MainUIControllerHelp.cpp        help, the diagnostics report and the start-up warnings
class MainUIController : public QObject, public AdvancedWindowDelegate
{
    Q_OBJECT

public:
    // The first controller loaded becomes the singleton; nullptr (with a system-log line) before.
    static MainUIController *sharedInstance();
    // Loads the interface files and runs awakeFromNib. The controller lives until the process ends.
    static MainUIController *loadFromInterfaceFile();

    // True when the framework is at least the one the newer code paths need (always, here).
    static bool isOSTenTenOrLater();
    // The user default "build" as an integer, 0 when missing.
    static std::int64_t buildNumber();
    // Sets the launch flags from the stored build number; stores the bundle's. Before any window.
    static void checkIfNewInstall();

    QMainWindow *window() const { return m_window; }
    QMenu *statusItems() const { return m_statusItems; }
    // The Advanced sheet's controller, made (with its window) the first time it is asked for.
    AdvancedWindowController *advancedWindowController();
    const std::string &lastSelectedDiskOrDirectoryKey() const { return m_lastSelectedDiskOrDirectoryKey; }
    bool statusMenuIsVisible() const { return m_statusMenuIsVisible; }
    bool isAppStoreVersion() const { return m_isAppStoreVersion; }

    // --- Start-up (MainUIControllerStartup.cpp)
    void awakeFromNib();
    void setupPreferences();
    void setupPreferencesSwift();
    void additionalSetup();

    // --- Window, menus, Dock, quit (MainUIControllerWindow.cpp)
    // Menu validation: tag 10001 is the open-at-login item, 10002 the show-in-Dock item.
    static constexpr int openAtLoginMenuItemTag = 10001;
    static constexpr int showInDockMenuItemTag = 10002;
    bool validateMenuItem(QAction *item);
    void vaidateOpenAtLoginMenuItem(QAction *item);
    void validateShowInDockMenuItem(QAction *item);
    void alertError(const QString &message);
    // Opens the file in the desktop's application for it; when nothing can, an alert gives its path.
    void openWithDesktop(const std::string &path);
    void makeSureHelperToolIsInstalledIfNeeded();
    void applyShowInDock();
    void setLaunchAtLoginUsingServiceManagement(bool enabled);
    void cleanUsingTarnwickMenuActionShiftWasDown(bool shiftWasDown);
    void setupLite();
    void setupLiteSwift();
    void showMojaveSpotlightAdvice();

    // --- Login item (MainUIControllerLoginItem.cpp)
    void addLoginItem();
    void removeLoginItem();
    bool loginItemExists() const;

    // --- Source list (MainUIControllerSourceList.cpp)
    // Rebuilds the list; the row to select is the record of keyToSelect, else the record selected
    // before, else the row selected before (row 0 without one).
    void populateSourceTable(const std::optional<std::string> &keyToSelect = std::nullopt);
    // The store or the mounted volumes changed: a list that has been built is rebuilt. The list is
    // first built when the window is shown, so that a start that only cleans decodes no icons.
    void sourceListMayHaveChanged(const std::optional<std::string> &keyToSelect = std::nullopt);
    // The list's row of the record with that storage key (its bytes as stored); -1 when none.
    int rowOfKey(const std::string &key) const;
    void insertDividerItem();
    void insertScheduleItem();
    void outlineViewSelectionDidChange();
    int outlineViewHeightOfRowByItem(const Node &item) const;
    bool outlineViewShouldSelectItem(const Node &item) const;
    void addFolderURL(const URL &url);
    bool showHFSWarningIfNeeded(const std::string &path);
    void setupSourceTableMenu();
    void positionAdvancedButton();
    bool isValidItem(const QMimeData *draggingInfo) const;
    // Drag and drop for both outline views: the operation a drop would get, and its acceptance.
    Qt::DropAction outlineViewValidateDrop(QTreeView *outlineView, const QMimeData *draggingInfo) const;
    bool outlineViewAcceptDrop(QTreeView *outlineView, const QMimeData *draggingInfo);

    // --- Details checklist and clean mode (MainUIControllerDetails.cpp)
    static constexpr int detailsCheckboxColumn = 0;
    std::vector<XFSDiskOrDirectory> selectedSourceDetails() const;
    void populateDetailsTable();
    void saveAndPopulateDetailsTable();
    void storeAnyChangesToFlags() override;
    void setPreferencesContent(const std::optional<Dictionary> &generalPreferences) override;
    void populateModeRadio();
    void updateModeRadio(bool hasServersUniqueKey, bool hasDisksUniqueKey, const QString &title);
    bool outlineViewIsGroupItem(const Node &item) const;
    bool outlineViewShouldTrackCell(const QTreeView *outlineView, const Node &item) const;
    QModelIndex tableItemForGroup(const Node &group) const;

    // --- Tray item and its rows (MainUIControllerStatusItem.cpp)
    void setupStatusItem();
    void menuWillOpen(QMenu *menu);
    void menuDidClose(QMenu *menu);

    // --- Scheduled cleaning (MainUIControllerSchedule.cpp)
    void setupScheduledUI();
    bool scheduleShouldFireOnThisDay() const;

    // --- Help, report and warnings (MainUIControllerHelp.cpp)
    void setupHelp();
    // A tab, then "<description>:YES" or "<description>:NO".
    static QString diagInfo(bool value, const QString &description);
    void warnIfRunningOnDiskImage();
    // The application icon, a fifth smaller, as one character of rich text.
    QTextDocumentFragment iconAttributedString() const;
    // The about text: the icon, the name, "Version x.y.z (build)", the rights line and a credits line.
    QTextDocumentFragment tarnwickInfoAttributedString() const;
    // Where the first-launch help panel's top-left corner goes: near the main window's
    // top-right corner, further right on a screen wider than 2000 pixels.
    static QPoint helpPanelTopLeft(const QRect &mainWindowFrame, int screenWidth);
    QDialog *helpSheet() const { return m_helpSheet; }

public slots:
    // Interface-file actions (a slot per selector).
    void show();
    void savePreferences();
    void windowDidResignKey();
    void automaticallyCheckForUpdates();
    void openAtLogin();
    void showInDockUserAction();
    void quitAction();
    void showAcknowledgments();
    void cleanUsingTarnwickMenuAction();
    void cleanUsingTarnwickMenuActionAlternate();
    void addFolder();
    void removeSourceItem();
    void showInFinderSourceMenuMenuItem();
    void modeRadioSelectionChanged();
    void statusItemVisibleChanged();
    void rebuildStatusItemNotification();
    void rebuildStatusItem();
    void statisticsManagerUpdate();
    void setupScheduledCleanOptions();
    void scheduledCleaningOptionsChanged();
    void scheduledCleaningTimerFired();
    void helpAction(QObject *sender = nullptr);
    void helpDoneAction();
    void showDiagnosticInfo();

protected:
    // The system theme change reaches the tray item through the application's palette events.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MainUIController();
    void loadInterfaceFiles();
    void registerObservers();

    static MainUIController *s_sharedInstance;
    std::vector<std::shared_ptr<void>> m_observers;

    // Outlets and state, in the order the window's design lists them.
    QMainWindow *m_window = nullptr;
    QWidget *m_detailsAndOptionsContainerView = nullptr;
    QWidget *m_scheduleOptionsContainerView = nullptr;
    QWidget *m_scheduleView = nullptr;
    QTimeEdit *m_scheduleOptionsDatePicker = nullptr;
    QTextEdit *m_scheduleHelpText = nullptr;
    QMenu *m_gearMenu = nullptr;
    QAbstractButton *m_helpButton = nullptr;
    QAbstractButton *m_showStatusMenuButton = nullptr;
    QFrame *m_divderLineBetweenContentAndOnOffButton = nullptr;
    QAction *m_openAtLoginMenuItem = nullptr;
    QAbstractButton *m_scheduleOptionsEnabledCheckbox = nullptr;
    QWidget *m_detailsTableContainer = nullptr;
    QLabel *m_statusTextLabel = nullptr;
    QTextEdit *m_helpText = nullptr;
    SoftwareUpdater *m_sparkle = nullptr;
    QAction *m_automaticallyCheckForUpdatesItem = nullptr;
    QWidget *m_helpDetailsContainer = nullptr;
    QTimer *m_scheduleCleanTimer = nullptr;
    QSystemTrayIcon *m_statusMenu = nullptr;
    PreferencesController *m_preferences = nullptr;
    QTreeView *m_sourceTable = nullptr;
    NodeTreeModel *m_sourceController = nullptr;
    QVariantMap m_detailsDisclosureStates;
    NodeTreeModel *m_detailsController = nullptr;
    QLabel *m_textForDontCleanRadioCaption = nullptr;
    QLabel *m_textForAskRadioCaption = nullptr;
    QLabel *m_textForCleanRadioCaption = nullptr;
    QButtonGroup *m_modeSwitchRadioGroup = nullptr;
    QToolButton *m_gearPopupMenuButton = nullptr;
    AdvancedWindowController *m_advancedWindowController = nullptr;
    QTreeView *m_detailsTable = nullptr;
    QMenu *m_statusItems = nullptr;
    bool m_statusMenuIsVisible = false;
    QDialog *m_helpSheet = nullptr;
    QLabel *m_helpAppName = nullptr;
    QLabel *m_helpVersion = nullptr;
    QLabel *m_helpCopyright = nullptr;
    std::string m_lastSelectedDiskOrDirectoryKey;
    bool m_isAppStoreVersion = false;

    // --- State of the source list and details checklist
    // Makes the outlines' models, the mode choice's rows, the menus' and buttons' connections.
    void setUpOutlinesAndMenus();
    void connectMenuItem(const char *objectName, void (MainUIController::*action)());
    // The source list's row under the last context-menu click; -1 for none.
    int m_sourceTableClickedRow = -1;
    // The source list has been built (and is kept in step with the store from then on).
    bool m_sourceListBuilt = false;

    // --- State of the tray item
public:
    QSystemTrayIcon *statusMenu() const { return m_statusMenu; }
    // The rows' controllers, in the menu's order.
    std::vector<class StatusMenuItemViewController *> statusMenuItemViewControllers() const;
    // The menu the rows go into when the interface file holds none.
    void setStatusItems(QMenu *menu);
    // Whether a system tray shows the tray item; nullopt asks the desktop again.
    static void setSystemTrayAvailableForTesting(std::optional<bool> available);

private:
    struct StatusItemState;
    StatusItemState &statusItemState();
    // The panel is dark: the palette's window colour is darker than middle grey.
    static bool isDarkAppearance();
    // The template image recoloured for a dark panel; else the dark image, or its selected
    // variant while the menu is open.
    void updateStatusItemImage();
    // Requests aimed at the controller, run on the main thread after a delay, by selector;
    // cancelling with no selector cancels every one of them.
    void performAfterDelay(const char *selector, float delay, std::function<void()> block);
    void cancelPreviousPerformRequests(const char *selector = nullptr);
    bool hasPendingPerformRequest(const char *selector);
    void removeStatusMenuRows();
    // The tray item exists and a system tray shows it.
    bool hasSystemTray() const;
    // The statistics or the mounted volumes changed: the rows are rebuilt at most once per 0.1
    // seconds while a tray shows them; without one they are rebuilt when the menu opens.
    void statusMenuRowsMayHaveChanged();

    std::shared_ptr<StatusItemState> m_statusItemState;

    // --- State of the schedule
public:
    QWidget *scheduleView() const { return m_scheduleView; }
    // The calendar of the schedule and of the rows' day names (the system's by default).
    void setCalendarClock(const class CalendarClock &clock);
    // The writable volumes a scheduled clean looks at (the mounted ones by default) and what it
    // hands its URLs to (the engine's scheduled clean by default); both are called off the main thread.
    void setScheduleSources(std::function<std::vector<URL>()> volumes,
                            std::function<void(const std::vector<URL> &)> cleaner);
    // How long a burst of schedule changes waits before re-arming (5 seconds).
    void setScheduleRearmDelay(float seconds);
    // The moment the pending one-shot timer fires; nullopt when none is pending.
    std::optional<class QDateTime> scheduledCleaningFireDate() const;
    // The volume roots whose records say clean, then the user's folders on disks not yet taken.
    static std::vector<URL> collectScheduledCleaningURLs(const std::vector<URL> &writableVolumes);

private:
    struct ScheduleState;
    // Made on first use, also from const operations.
    ScheduleState &scheduleState() const;
    const class CalendarClock &calendarClock() const;
    void bindScheduleControls();
    // The picker's hour and minute on that day, in the calendar's time zone.
    class QDateTime pickedTimeOn(const class QDate &day) const;

    mutable std::shared_ptr<ScheduleState> m_scheduleState;

    // --- State of the help panel
    // The help text's frame as the interface file lays it out, given back before each sheet.
    std::optional<QRect> m_helpTextFrame;
};
