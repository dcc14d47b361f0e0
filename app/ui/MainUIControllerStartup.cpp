#include "MainUIController.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>

#include "GCDAdditions.h"
#include "LaunchFlags.h"
#include "NotificationCenter.h"
#include "OperationQueue.h"
#include "PreferencesSupport.h"
#include "StatisticsManager.h"
#include "TarnwickLaunchdHelper.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "XTWStore.h"

void MainUIController::awakeFromNib()
{
    s_sharedInstance = this;
    m_window->setWindowTitle(QApplication::applicationDisplayName());
    setupPreferences();
    additionalSetup();
    populateSourceTable();
    savePreferences();
    setupScheduledUI();
    setupScheduledCleanOptions();
    statusItemVisibleChanged();
    warnIfRunningOnDiskImage();
    registerObservers();
    GCDAdditions::performBlockAfterTinyDelay([this] {
        statisticsManagerUpdate();
        m_window->update();
    });
    if (XTWStore::shared().needsToKeepRunning())
        TarnwickLaunchdHelper::sharedInstance().installIfNeeded();
    if (LaunchFlags::newVersionInstall) {
        removeLoginItem();
        addLoginItem();
    }
}

void MainUIController::setupPreferences()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (!defaults.objectForKey("statusItemVisible"))
        defaults.setObject(Value(true), "statusItemVisible");
    if (!defaults.objectForKey("logDeletions"))
        defaults.setObject(Value(true), "logDeletions");
    setupPreferencesSwift();
}

void MainUIController::setupPreferencesSwift()
{
}

void MainUIController::additionalSetup()
{
    positionAdvancedButton();
    setupSourceTableMenu();
    applyShowInDock();
}

void MainUIController::registerObservers()
{
    OperationQueue *mainQueue = &OperationQueue::main();
    NotificationCenter &center = NotificationCenter::defaultCenter();
    m_observers.push_back(center.addObserver(StatisticsManager::updatedNotificationName, nullptr, mainQueue,
                                             [this](const Notification &) { statisticsManagerUpdate(); }));
    qApp->installEventFilter(this);
    m_observers.push_back(NotificationCenter::workspaceCenter().addObserver(
        NotificationCenter::DidMountNotification, nullptr, nullptr, [this](const Notification &) { populateSourceTable(); }));
    TarnwickStore::sharedInstance().listenForChanges([this](const Notification &notification) {
        const auto found = notification.userInfo.find(TarnwickStore::changedObjectKey);
        const std::string *key = found == notification.userInfo.end() ? nullptr : found->second.asString();
        populateSourceTable(key ? std::optional<QString>(QString::fromStdString(*key)) : std::nullopt);
    });
    TarnwickStore::sharedInstance().listenForDetailsChanges([this](const Notification &) { populateDetailsTable(); });
}

bool MainUIController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange))
        rebuildStatusItemNotification();
    return QObject::eventFilter(watched, event);
}
