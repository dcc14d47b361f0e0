#include "MainUIController.h"

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QSystemTrayIcon>
#include <QWidgetAction>

#include <algorithm>

#include "Bundle.h"
#include "Core.h"
#include "GCDAdditions.h"
#include "Logger.h"
#include "PreferencesSupport.h"
#include "StatisticsManager.h"
#include "StatusMenuItemViewController.h"
#include "TWVolumeInfo.h"
#include "UserDefaults.h"

struct MainUIController::StatusItemState
{
    std::vector<QPointer<StatusMenuItemViewController>> rows;
    std::vector<QPointer<QAction>> rowItems;
    std::vector<std::pair<std::string, std::shared_ptr<BlockOperation>>> delayedPerformRequests;
    // The menu whose opening and closing the controller follows.
    QPointer<QMenu> delegateOf;
    bool toldNoTray = false;
    // The statistics or the volumes changed while the rows were not rebuilt (no tray shows them).
    bool rowsOutdated = false;
};

namespace
{
constexpr const char *rebuildStatusItemSelector = "rebuildStatusItem:";
constexpr float rebuildStatusItemDelay = 0.1f;
constexpr const char *statisticsManagerUpdateSelector = "statisticsManagerUpdate:";
constexpr float statusMenuRowsRebuildDelay = 0.1f;

std::optional<bool> g_systemTrayAvailableForTesting;

// An image of the bundle in its 16 and 32 pixel sizes ("NAME.png", "NAME@2x.png").
QIcon bundleImage(const std::string &name)
{
    QIcon icon;
    for (const std::string &file : {name, name + "@2x"})
        if (const std::optional<std::string> path = Bundle::main().pathForResource(file, "png"))
            icon.addFile(QString::fromStdString(*path));
    return icon;
}

// The template image's shape in the panel's text colour.
QIcon recoloured(const QIcon &templateImage, const QColor &colour)
{
    QIcon icon;
    for (const QSize &size : templateImage.availableSizes()) {
        QImage image = templateImage.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), colour);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
}

MainUIController::StatusItemState &MainUIController::statusItemState()
{
    if (!m_statusItemState)
        m_statusItemState = std::make_shared<StatusItemState>();
    return *m_statusItemState;
}

std::vector<StatusMenuItemViewController *> MainUIController::statusMenuItemViewControllers() const
{
    std::vector<StatusMenuItemViewController *> rows;
    if (m_statusItemState)
        for (const QPointer<StatusMenuItemViewController> &row : m_statusItemState->rows)
            if (row)
                rows.push_back(row);
    return rows;
}

void MainUIController::setStatusItems(QMenu *menu)
{
    m_statusItems = menu;
    if (m_statusMenu)
        m_statusMenu->setContextMenu(menu);
}

void MainUIController::statusItemVisibleChanged()
{
    if (PreferencesSupport::standardUserDefaults().boolForKey("statusItemVisible")) {
        setupStatusItem();
        return;
    }
    delete m_statusMenu;
    m_statusMenu = nullptr;
}

void MainUIController::setupStatusItem()
{
    if (!m_statusMenu) {
        StatusItemState &state = statusItemState();
        if (!QSystemTrayIcon::isSystemTrayAvailable() && !state.toldNoTray) {
            state.toldNoTray = true;
            Logger::shared().log("No system tray is available: Tarnwick's menu is not shown in the panel. "
                                 "Start Tarnwick again to open its window.");
        }
        m_statusMenu = new QSystemTrayIcon(this);
        m_statusMenu->setObjectName(QStringLiteral("statusMenu"));
        m_statusMenu->setContextMenu(m_statusItems);
        m_statusMenu->setToolTip(QApplication::applicationDisplayName());
        // Trays that report a plain click open the menu, as the panel's other items do.
        connect(m_statusMenu, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger && m_statusItems && !m_statusItems->isVisible())
                m_statusItems->popup(QCursor::pos());
        });
        updateStatusItemImage();
        m_statusMenu->show();
    }
    statisticsManagerUpdate();
}

bool MainUIController::isDarkAppearance()
{
    return QApplication::palette().color(QPalette::Window).lightness() < 128;
}

void MainUIController::updateStatusItemImage()
{
    if (!m_statusMenu)
        return;
    if (isDarkAppearance())
        m_statusMenu->setIcon(recoloured(bundleImage("tw_menu_bar_dark_16x16_Template"),
                                         QApplication::palette().color(QPalette::WindowText)));
    else if (m_statusMenuIsVisible)
        m_statusMenu->setIcon(bundleImage("tw_menu_bar_dark_16x16_selected"));
    else
        m_statusMenu->setIcon(bundleImage("tw_menu_bar_dark_16x16"));
}

void MainUIController::setSystemTrayAvailableForTesting(std::optional<bool> available)
{
    g_systemTrayAvailableForTesting = available;
}

bool MainUIController::hasSystemTray() const
{
    return m_statusMenu && g_systemTrayAvailableForTesting.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void MainUIController::statusMenuRowsMayHaveChanged()
{
    if (!hasSystemTray()) {
        statusItemState().rowsOutdated = true;
        return;
    }
    // A burst of changes is one rebuild, made with the statistics as they are by then.
    if (hasPendingPerformRequest(statisticsManagerUpdateSelector))
        return;
    performAfterDelay(statisticsManagerUpdateSelector, statusMenuRowsRebuildDelay,
                      [this] { statisticsManagerUpdate(); });
}

void MainUIController::rebuildStatusItemNotification()
{
    cancelPreviousPerformRequests();
    performAfterDelay(rebuildStatusItemSelector, rebuildStatusItemDelay, [this] { rebuildStatusItem(); });
}

void MainUIController::rebuildStatusItem()
{
    delete m_statusMenu;
    m_statusMenu = nullptr;
    if (PreferencesSupport::standardUserDefaults().boolForKey("statusItemVisible"))
        setupStatusItem();
}

void MainUIController::performAfterDelay(const char *selector, float delay, std::function<void()> block)
{
    auto &requests = statusItemState().delayedPerformRequests;
    std::erase_if(requests, [](const auto &request) { return request.second->isFinished() || request.second->isCancelled(); });
    requests.emplace_back(selector, GCDAdditions::performBlockAfterDelay(delay, std::move(block)));
}

bool MainUIController::hasPendingPerformRequest(const char *selector)
{
    const auto &requests = statusItemState().delayedPerformRequests;
    return std::any_of(requests.begin(), requests.end(), [selector](const auto &request) {
        return request.first == selector && !request.second->isFinished() && !request.second->isCancelled();
    });
}

void MainUIController::cancelPreviousPerformRequests(const char *selector)
{
    auto &requests = statusItemState().delayedPerformRequests;
    std::erase_if(requests, [selector](const auto &request) {
        if (selector && request.first != selector)
            return false;
        request.second->cancel();
        return true;
    });
}

void MainUIController::menuWillOpen(QMenu *menu)
{
    if (menu != m_statusItems)
        return;
    if (statusItemState().rowsOutdated)
        statisticsManagerUpdate();
    m_statusMenuIsVisible = true;
    updateStatusItemImage();
}

void MainUIController::menuDidClose(QMenu *menu)
{
    if (menu != m_statusItems)
        return;
    m_statusMenuIsVisible = false;
    updateStatusItemImage();
    statisticsManagerUpdate();
}

void MainUIController::removeStatusMenuRows()
{
    const QList<QAction *> items = m_statusItems->actions();
    const auto firstSeparator = std::find_if(items.begin(), items.end(), [](QAction *item) { return item->isSeparator(); });
    StatusItemState &state = statusItemState();
    const bool hasSeparator = firstSeparator != items.end();
    for (auto item = items.begin(); item != firstSeparator; ++item) {
        // Without a separator only the rows made here are taken away, never the fixed commands.
        if (!hasSeparator && std::find(state.rowItems.begin(), state.rowItems.end(), *item) == state.rowItems.end())
            continue;
        m_statusItems->removeAction(*item);
        // A row may be going away from inside its own "Clean" button's click.
        (*item)->deleteLater();
    }
    state.rowItems.clear();
}

void MainUIController::statisticsManagerUpdate()
{
    if (!m_statusItems)
        return;
    StatusItemState &state = statusItemState();
    if (state.delegateOf != m_statusItems) {
        state.delegateOf = m_statusItems;
        QMenu *menu = m_statusItems;
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { menuWillOpen(menu); });
        connect(menu, &QMenu::aboutToHide, this, [this, menu] { menuDidClose(menu); });
    }
    if (m_statusMenuIsVisible)
        return;
    state.rowsOutdated = false;

    removeStatusMenuRows();

    std::vector<URL> urls = Core::buildRWVolumeURLList();
    urls.push_back(URL::fileURLWithPath("/"));
    std::vector<std::pair<URL, std::shared_ptr<VolumeMetaDataStatistics>>> kept;
    for (const URL &url : urls) {
        const std::optional<URL> volume = url.volume();
        if (!volume)
            continue;
        const std::shared_ptr<VolumeMetaDataStatistics> entry = StatisticsManager::shared().volumeItemFor(*volume);
        if (!entry)
            continue;
        TWVolumeInfo facts;
        if (CFUGetVolumeInfo(volume->path(), &facts) == 0) {
            if (facts.isMacDisk())
                continue;
            if (facts.isServer() && entry->numberOfItemsDeleted() == 0)
                continue;
        }
        // "/" is taken twice when it is writable; it still gets one row.
        if (std::any_of(kept.begin(), kept.end(), [&entry](const auto &row) { return row.second == entry; }))
            continue;
        kept.emplace_back(*volume, entry);
    }

    for (const QPointer<StatusMenuItemViewController> &row : state.rows)
        if (row)
            row->deleteLater();
    state.rows.clear();

    for (std::size_t index = 0; index < kept.size(); ++index) {
        const auto &[volume, entry] = kept[index];
        auto *row = new StatusMenuItemViewController;
        row->setDetails(entry);
        row->setOwnerMenu(m_statusItems);
        row->setCalendarClock(calendarClock());
        row->view();
        row->setupWithDetailsForPath(volume);

        auto *item = new QWidgetAction(m_statusItems);
        item->setDefaultWidget(row->view());
        // Trays that show the menu as plain text show the same two lines, and choosing them cleans.
        item->setText(row->plainTitle());
        item->setToolTip(QString::fromStdString(volume.path()));
        item->setData(QVariant::fromValue(static_cast<QObject *>(row)));
        connect(item, &QAction::triggered, row, &StatusMenuItemViewController::cleanNowAction);
        const QList<QAction *> items = m_statusItems->actions();
        m_statusItems->insertAction(static_cast<qsizetype>(index) < items.size() ? items.at(static_cast<qsizetype>(index)) : nullptr, item);
        state.rows.push_back(row);
        state.rowItems.push_back(item);
    }
}
