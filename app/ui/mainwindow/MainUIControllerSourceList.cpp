#include "MainUIController.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QItemSelectionModel>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QStyle>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "AdvancedWindowController.h"
#include "Alert.h"
#include "Core.h"
#include "DesktopOpener.h"
#include "DragURL.h"
#include "GCDAdditions.h"
#include "LocalizedString.h"
#include "Node.h"
#include "NodeTreeModel.h"
#include "OpenPanel.h"
#include "PreferencesSupport.h"
#include "ResourcesSupport.h"
#include "StatisticsManager.h"
#include "TWFileManager.h"
#include "TWVolumeInfo.h"
#include "UserDefaults.h"
#include "XTWStore.h"

namespace
{
constexpr const char *scheduleKey = "schedule";
constexpr const char *dividerTitle = "-";
constexpr int dividerRowHeight = 10;

// The record's icon; without an icon theme, the style's own picture of that kind of item.
QIcon recordImage(const XFSDiskOrDirectory &record)
{
    const QPixmap icon = record.icon24by24();
    if (!icon.isNull())
        return QIcon(icon);
    QStyle::StandardPixmap kind = QStyle::SP_DriveHDIcon;
    if (record.iconChoice() == XFSDiskOrDirectory::IconChoice::fileServer)
        kind = QStyle::SP_DriveNetIcon;
    else if (record.iconChoice() == XFSDiskOrDirectory::IconChoice::itemIcon
             && !Core::isMountedVolume(record.path()))
        kind = QStyle::SP_DirIcon;
    const QPixmap standard = QApplication::style()->standardIcon(kind).pixmap(24, 24);
    return QIcon(standard.scaled(24, 24, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

std::shared_ptr<Node> entryNode(const XFSDiskOrDirectory &record)
{
    auto node = std::make_shared<Node>(QString::fromStdString(record.displayName()));
    node->setKey(record.storageKey());
    node->setIsLeaf(true);
    node->setImage(recordImage(record));
    return node;
}

bool isDivider(const Node &node)
{
    return node.title() == QLatin1String(dividerTitle) && node.key().empty();
}

bool isDirectory(const std::string &path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// A folder that a Mac starts from: the start-up disk's root, or one holding the system's core services.
bool isBootDisk(const URL &url)
{
    return url.path() == "/" || url.appendingPathComponent("System/Library/CoreServices").isReachable();
}
}

void MainUIController::populateSourceTable(const std::optional<std::string> &keyToSelect)
{
    m_sourceListBuilt = true;
    storeAnyChangesToFlags();
    // The selection stays with its record, wherever the rebuild puts it; by position only when the
    // record is gone (records may share a name, so neither name nor row tells them apart).
    const QModelIndexList selected = m_sourceTable->selectionModel()->selectedRows();
    int rowToSelect = selected.isEmpty() ? 0 : selected.first().row();
    const Node *selectedNode = selected.isEmpty() ? nullptr : m_sourceController->nodeForIndex(selected.first());
    const std::string selectedKey = selectedNode ? selectedNode->key() : std::string();

    m_sourceController->setContent({});
    const XTWStore &store = XTWStore::shared();
    for (const XFSDiskOrDirectory &record : store.builtInDisksOrDirectories())
        m_sourceController->appendContent(entryNode(record));
    insertDividerItem();
    insertScheduleItem();
    insertDividerItem();

    XTWStore::Records folders = store.userSuppliedDisksOrDirectories();
    // Plain string order, capitals before lower case, as the names' bytes compare.
    std::stable_sort(folders.begin(), folders.end(),
                     [](const XFSDiskOrDirectory &a, const XFSDiskOrDirectory &b) {
                         return a.displayName() < b.displayName();
                     });
    for (const XFSDiskOrDirectory &record : folders)
        m_sourceController->appendContent(entryNode(record));
    if (const int row = rowOfKey(keyToSelect.value_or(std::string())); row >= 0)
        rowToSelect = row;
    else if (const int previous = rowOfKey(selectedKey); previous >= 0)
        rowToSelect = previous;

    const QModelIndex toSelect = m_sourceController->index(rowToSelect, 0);
    if (toSelect.isValid())
        m_sourceTable->selectionModel()->setCurrentIndex(toSelect, QItemSelectionModel::ClearAndSelect);
    saveAndPopulateDetailsTable();
}

void MainUIController::sourceListMayHaveChanged(const std::optional<std::string> &keyToSelect)
{
    if (m_sourceListBuilt)
        populateSourceTable(keyToSelect);
}

int MainUIController::rowOfKey(const std::string &key) const
{
    if (key.empty())
        return -1;
    const Node::Children &rows = m_sourceController->content();
    const auto found = std::find_if(rows.begin(), rows.end(), [&key](const auto &node) { return node->key() == key; });
    return found == rows.end() ? -1 : int(found - rows.begin());
}

void MainUIController::insertDividerItem()
{
    auto divider = std::make_shared<Node>(QString::fromLatin1(dividerTitle));
    divider->setIsLeaf(true);
    m_sourceController->appendContent(std::move(divider));
}

void MainUIController::insertScheduleItem()
{
    const std::optional<std::string> clock = ResourcesSupport::pathForResourceWithName("clock.png");
    if (!clock)
        return;
    const QIcon image(QIcon(QString::fromStdString(*clock)).pixmap(24, 24));
    if (image.isNull())
        return;
    auto schedule = std::make_shared<Node>(QString::fromStdString(LSFK("Schedule")));
    schedule->setKey(scheduleKey);
    schedule->setIsLeaf(true);
    schedule->setImage(image);
    m_sourceController->appendContent(std::move(schedule));
}

void MainUIController::outlineViewSelectionDidChange()
{
    const QModelIndexList selected = m_sourceTable->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const Node *node = m_sourceController->nodeForIndex(selected.first());
    if (node && node->key() == scheduleKey) {
        m_detailsAndOptionsContainerView->hide();
        if (m_scheduleView->parentWidget() != m_scheduleOptionsContainerView) {
            m_scheduleView->setParent(m_scheduleOptionsContainerView);
            if (QLayout *layout = m_scheduleOptionsContainerView->layout())
                layout->addWidget(m_scheduleView);
        }
        m_scheduleView->show();
        m_scheduleOptionsContainerView->show();
        return;
    }
    m_detailsAndOptionsContainerView->show();
    m_scheduleOptionsContainerView->hide();
    if (m_scheduleView->parentWidget()) {
        m_scheduleView->hide();
        m_scheduleView->setParent(nullptr);
    }
    saveAndPopulateDetailsTable();
}

int MainUIController::outlineViewHeightOfRowByItem(const Node &item) const
{
    // Every other row is as high as the list's icons with a little room around them.
    return isDivider(item) ? dividerRowHeight : m_sourceTable->iconSize().height() + 6;
}

bool MainUIController::outlineViewShouldSelectItem(const Node &item) const
{
    return !isDivider(item);
}

void MainUIController::addFolder()
{
    OpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(false);
    panel.setPrompt(LSFK("Choose"));
    panel.setTitle(LSFK("Pick a disk or folder"));
    if (panel.runModal() != OpenPanel::OKResponse)
        return;
    for (const URL &url : panel.URLs())
        addFolderURL(url);
}

void MainUIController::addFolderURL(const URL &url)
{
    if (isBootDisk(url)) {
        alertError(QString::fromStdString(
                       LSFK("%@ cannot be used because it is a boot disk. Please pick a subfolder on the disk instead."))
                       .replace(QLatin1String("%@"), QString::fromStdString(url.displayName())));
        return;
    }
    showHFSWarningIfNeeded(url.path());
    XTWStore::shared().addDetailsForVolumeAtPath(url.path(), XFSDiskOrDirectory::CleanMode::alwaysClean);
}

bool MainUIController::showHFSWarningIfNeeded(const std::string &path)
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (defaults.boolForKey("HFSWarning") || !TWFileManager::isHFSVolume(path))
        return false;
    Alert alert;
    alert.setMessageText(LSFK("Folder on a Mac or Linux Formatted Disk Selected"));
    alert.setInformativeText(
        LSFK("The folder you have selected is on a Mac or Linux formatted volume. Tarnwick will only clean "
             "DS_Stores and blacklisted items from this folder. Resource forks and attributes will be kept to "
             "ensure application compatibility."));
    alert.addButton(LSFK("OK"));
    alert.setShowsSuppressionButton(true);
    alert.runModal();
    if (alert.suppressionButtonChecked())
        defaults.setObject(Value(true), "HFSWarning");
    return false;
}

void MainUIController::removeSourceItem()
{
    XTWStore &store = XTWStore::shared();
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    for (const XFSDiskOrDirectory &record : selectedSourceDetails()) {
        store.remove(record);
        defaults.removeObjectForKey(XTWStore::bookmarkKeyPrefix + record.storageKey());
    }
    // A removal is kept at once, as an addition is.
    store.save();
    populateSourceTable();
    const QModelIndex first = m_sourceController->index(0, 0);
    if (first.isValid())
        m_sourceTable->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect);
    StatisticsManager::shared().scheduleUpdate();
}

void MainUIController::setupSourceTableMenu()
{
    m_sourceTable->setContextMenuPolicy(Qt::CustomContextMenu);
    auto *menu = new QMenu(m_sourceTable);
    menu->setObjectName(QStringLiteral("sourceTableMenu"));
    QAction *showInFinder = menu->addAction(QString::fromStdString(LSFK("Show in File Manager")));
    showInFinder->setObjectName(QStringLiteral("showInFinderSourceMenuMenuItem"));
    connect(showInFinder, &QAction::triggered, this, &MainUIController::showInFinderSourceMenuMenuItem);
    connect(m_sourceTable, &QWidget::customContextMenuRequested, this, [this, menu](const QPoint &position) {
        m_sourceTableClickedRow = m_sourceTable->indexAt(position).row();
        menu->popup(m_sourceTable->viewport()->mapToGlobal(position));
    });
}

void MainUIController::showInFinderSourceMenuMenuItem()
{
    const QModelIndex clicked = m_sourceController->index(m_sourceTableClickedRow, 0);
    const Node *node = m_sourceController->nodeForIndex(clicked);
    if (!node) {
        QApplication::beep();
        return;
    }
    const std::optional<XFSDiskOrDirectory> record =
        XTWStore::shared().diskOrDirectoryDetailsForKey(node->key());
    if (!record || record->path().empty() || !isDirectory(record->path()))
        return;
    if (TWKeyForDisk(record->path()) != record->uniqueDiskKey())
        return;
    QDesktopServices::openUrl(DesktopOpener::fileURL(record->path()));
}

void MainUIController::positionAdvancedButton()
{
    QWidget *content = m_window->centralWidget();
    if (!content)
        return;
    for (QWidget *view : content->findChildren<QWidget *>()) {
        if (view->property("tag").toInt() == 2) {
            view->hide();
            return;
        }
    }
}

bool MainUIController::isValidItem(const QMimeData *draggingInfo) const
{
    const std::optional<std::string> path = urlFromDrag(draggingInfo);
    return path && isDirectory(*path);
}

Qt::DropAction MainUIController::outlineViewValidateDrop(QTreeView *outlineView, const QMimeData *draggingInfo) const
{
    if (outlineView == m_sourceTable)
        return isValidItem(draggingInfo) ? Qt::LinkAction : Qt::IgnoreAction;
    // The checklist takes what the black list takes: an item known not to be a volume.
    if (outlineView == m_detailsTable)
        return AdvancedWindowController::isValidItemForBlackList(draggingInfo) ? Qt::LinkAction : Qt::IgnoreAction;
    return Qt::IgnoreAction;
}

bool MainUIController::outlineViewAcceptDrop(QTreeView *outlineView, const QMimeData *draggingInfo)
{
    const std::optional<std::string> path = urlFromDrag(draggingInfo);
    if (outlineView == m_sourceTable) {
        if (path)
            addFolderURL(URL::fileURLWithPath(*path));
        return true;
    }
    if (outlineView == m_detailsTable) {
        if (path) {
            const std::string name = URL::fileURLWithPath(*path).lastPathComponent();
            GCDAdditions::performBlockAfterTinyDelay([this, name] { advancedWindowController()->showWithNewBlackListItem(name); });
        }
        return true;
    }
    return false;
}
