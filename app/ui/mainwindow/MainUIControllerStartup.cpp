#include "MainUIController.h"

#include <QApplication>
#include <QEvent>
#include <QAbstractButton>
#include <QKeyEvent>
#include <QAction>
#include <QButtonGroup>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QMenu>
#include <QToolButton>
#include <QTreeView>

#include "AdvancedWindowController.h"
#include "ExamineWindowController.h"
#include "GCDAdditions.h"
#include "LaunchFlags.h"
#include "Node.h"
#include "NodeTreeModel.h"
#include "NotificationCenter.h"
#include "OperationQueue.h"
#include "PreferencesController.h"
#include "PreferencesSupport.h"
#include "SoftwareUpdater.h"
#include "SourceNodeTitleCell.h"
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
    setUpOutlinesAndMenus();
    positionAdvancedButton();
    setupSourceTableMenu();
    applyShowInDock();
}

void MainUIController::setUpOutlinesAndMenus()
{
    m_preferences = new PreferencesController(this);
    m_preferences->setObjectName(QStringLiteral("preferences"));
    m_preferences->bind(m_showStatusMenuButton, "statusItemVisible");
    connect(m_preferences, &PreferencesController::valueChanged, this, [this](const QString &key) {
        if (key == QLatin1String("statusItemVisible"))
            statusItemVisibleChanged();
    });
    m_sparkle = new SoftwareUpdater(this);
    m_sparkle->setObjectName(QStringLiteral("sparkle"));

    // Both outlines take dragged URLs; what a drop does is the controller's.
    m_sourceController = new NodeTreeModel(this);
    m_sourceController->setObjectName(QStringLiteral("sourceController"));
    m_sourceController->setSelectableTest([this](const Node &node) { return outlineViewShouldSelectItem(node); });
    m_sourceController->setRowHeight([this](const Node &node) { return outlineViewHeightOfRowByItem(node); });
    m_sourceController->setDropHandlers(
        [this](const QMimeData *data) { return outlineViewValidateDrop(m_sourceTable, data) != Qt::IgnoreAction; },
        [this](const QMimeData *data) { return outlineViewAcceptDrop(m_sourceTable, data); });
    m_detailsController = new NodeTreeModel(this);
    m_detailsController->setObjectName(QStringLiteral("detailsController"));
    m_detailsController->setCheckableTest(
        [this](const Node &node) { return outlineViewShouldTrackCell(m_detailsTable, node); });
    m_detailsController->setGroupTest([this](const Node &node) { return outlineViewIsGroupItem(node); });
    m_detailsController->setDropHandlers(
        [this](const QMimeData *data) { return outlineViewValidateDrop(m_detailsTable, data) != Qt::IgnoreAction; },
        [this](const QMimeData *data) { return outlineViewAcceptDrop(m_detailsTable, data); });
    for (QTreeView *outline : {m_sourceTable, m_detailsTable}) {
        outline->setAcceptDrops(true);
        outline->viewport()->setAcceptDrops(true);
        outline->setDragDropMode(QAbstractItemView::DropOnly);
        outline->setDropIndicatorShown(false);
    }
    m_sourceTable->setModel(m_sourceController);
    m_sourceTable->setItemDelegate(new SourceNodeTitleCell(m_sourceTable));
    connect(m_sourceTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainUIController::outlineViewSelectionDidChange);
    // A click on a row that cannot be selected keeps the selection it found.
    connect(m_sourceTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &, const QItemSelection &deselected) {
                QItemSelectionModel *selection = m_sourceTable->selectionModel();
                const Node *current = m_sourceController->nodeForIndex(selection->currentIndex());
                if (selection->hasSelection() || deselected.isEmpty() || !current || outlineViewShouldSelectItem(*current))
                    return;
                selection->select(deselected, QItemSelectionModel::Select);
            });
    m_detailsTable->setModel(m_detailsController);
    // A box ticked or cleared is in force for the next clean at once, not only once another row
    // is shown: the store takes the record now (the preferences file follows, throttled).
    connect(m_detailsController, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
                if (roles.contains(Qt::CheckStateRole))
                    storeAnyChangesToFlags();
            });

    const char *modeRows[] = {"dontCleanRadio", "askRadio", "cleanRadio"};
    for (int row = 0; row < 3; ++row)
        if (auto *button = m_window->findChild<QAbstractButton *>(QLatin1String(modeRows[row])))
            m_modeSwitchRadioGroup->setId(button, row);
    connect(m_modeSwitchRadioGroup, &QButtonGroup::idClicked, this, &MainUIController::modeRadioSelectionChanged);

    if (auto *add = m_window->findChild<QAbstractButton *>(QStringLiteral("addFolderButton")))
        connect(add, &QAbstractButton::clicked, this, &MainUIController::addFolder);
    if (auto *remove = m_window->findChild<QAbstractButton *>(QStringLiteral("removeSourceItemButton")))
        connect(remove, &QAbstractButton::clicked, this, &MainUIController::removeSourceItem);
    connect(m_helpButton, &QAbstractButton::clicked, this, [this] { helpAction(m_helpButton); });
    m_helpButton->installEventFilter(this);

    m_gearPopupMenuButton->setMenu(m_gearMenu);
    if (auto *advanced = m_window->findChild<QAction *>(QStringLiteral("advancedMenuItem")))
        connect(advanced, &QAction::triggered, this, [this] { advancedWindowController()->show(); });
    if (auto *examine = m_window->findChild<QAction *>(QStringLiteral("examineMenuItem")))
        connect(examine, &QAction::triggered, this, [] { examineUserAction(); });
    connectMenuItem("showInDockMenuItem", &MainUIController::showInDockUserAction);
    connectMenuItem("openAtLoginMenuItem", &MainUIController::openAtLogin);
    connectMenuItem("automaticallyCheckForUpdatesItem", &MainUIController::automaticallyCheckForUpdates);
    connectMenuItem("acknowledgmentsMenuItem", &MainUIController::showAcknowledgments);
    connectMenuItem("quitMenuItem", &MainUIController::quitAction);
    connectMenuItem("cleanUsingTarnwickItem", &MainUIController::cleanUsingTarnwickMenuAction);
    connectMenuItem("cleanUsingTarnwickAlternateItem", &MainUIController::cleanUsingTarnwickMenuActionAlternate);
    connectMenuItem("showMainWindowItem", &MainUIController::show);
    connectMenuItem("quitItem", &MainUIController::quitAction);
    for (QMenu *menu : {m_gearMenu, m_statusItems}) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            for (QAction *item : menu->actions())
                if (!item->isSeparator())
                    validateMenuItem(item);
        });
    }
    m_window->installEventFilter(this);
}

AdvancedWindowController *MainUIController::advancedWindowController()
{
    // A start that only cleans never shows the sheet: its window is not built for nothing.
    if (!m_advancedWindowController) {
        m_advancedWindowController = new AdvancedWindowController(m_window);
        m_advancedWindowController->setDelegate(this);
    }
    return m_advancedWindowController;
}

void MainUIController::setPreferencesContent(const std::optional<Dictionary> &generalPreferences)
{
    m_preferences->setContent(generalPreferences);
}

void MainUIController::connectMenuItem(const char *objectName, void (MainUIController::*action)())
{
    if (auto *item = m_window->findChild<QAction *>(QLatin1String(objectName)))
        connect(item, &QAction::triggered, this, action);
}

void MainUIController::registerObservers()
{
    OperationQueue *mainQueue = &OperationQueue::main();
    NotificationCenter &center = NotificationCenter::defaultCenter();
    m_observers.push_back(center.addObserver(StatisticsManager::updatedNotificationName, nullptr, mainQueue,
                                             [this](const Notification &) { statusMenuRowsMayHaveChanged(); }));
    qApp->installEventFilter(this);
    // A volume that comes or goes changes the rows of the menu and the icons of the list.
    for (const char *change : {NotificationCenter::DidMountNotification, NotificationCenter::DidUnmountNotification})
        m_observers.push_back(NotificationCenter::workspaceCenter().addObserver(change, nullptr, nullptr,
                                                                                [this](const Notification &) {
                                                                                    sourceListMayHaveChanged();
                                                                                    statusMenuRowsMayHaveChanged();
                                                                                }));
    TarnwickStore::sharedInstance().listenForChanges([this](const Notification &notification) {
        const auto found = notification.userInfo.find(TarnwickStore::changedObjectKey);
        const std::string *key = found == notification.userInfo.end() ? nullptr : found->second.asString();
        sourceListMayHaveChanged(key ? std::optional<std::string>(*key) : std::nullopt);
    });
    TarnwickStore::sharedInstance().listenForDetailsChanges([this](const Notification &) { populateDetailsTable(); });
}

bool MainUIController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::WindowDeactivate)
        windowDidResignKey();
    if (watched == qApp && (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange))
        rebuildStatusItemNotification();
    // Enter presses the focused help button too: where the window manager takes Alt with a click
    // (to move windows), Alt+Enter is the way to the diagnostics report.
    if (watched == m_helpButton && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat()) {
            m_helpButton->click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
