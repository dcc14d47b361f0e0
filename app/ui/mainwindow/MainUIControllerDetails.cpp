#include "MainUIController.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCollator>
#include <QItemSelectionModel>
#include <QLabel>
#include <QModelIndex>
#include <QTreeView>

#include <algorithm>

#include "LocalizedString.h"
#include "Node.h"
#include "NodeTreeModel.h"
#include "XTWStore.h"

namespace
{
// Whether each group ("Items to Delete", "Options") was expanded, saved before each rebuild.
std::vector<bool> g_detailsExpansionStates;

QString filledFormat(const std::string &format, const QString &subject)
{
    return QString::fromStdString(LSFK(format)).replace(QLatin1String("%@"), subject);
}
}

std::vector<XFSDiskOrDirectory> MainUIController::selectedSourceDetails() const
{
    std::vector<XFSDiskOrDirectory> records;
    if (!m_sourceTable || !m_sourceController)
        return records;
    const XTWStore &store = XTWStore::shared();
    for (const QModelIndex &index : m_sourceTable->selectionModel()->selectedRows()) {
        const Node *node = m_sourceController->nodeForIndex(index);
        if (!node)
            continue;
        if (std::optional<XFSDiskOrDirectory> record = store.diskOrDirectoryDetailsForKey(node->key()))
            records.push_back(std::move(*record));
    }
    return records;
}

void MainUIController::populateDetailsTable()
{
    const QModelIndexList selected = m_sourceTable->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        m_lastSelectedDiskOrDirectoryKey.clear();
        m_detailsController->setContent({});
        return;
    }

    g_detailsExpansionStates.clear();
    for (const std::shared_ptr<Node> &group : m_detailsController->content()) {
        const QModelIndex row = tableItemForGroup(*group);
        if (row.isValid())
            g_detailsExpansionStates.push_back(m_detailsTable->isExpanded(row));
    }

    auto itemsToDelete = std::make_shared<Node>(QString::fromStdString(LSFK("Items to Delete")));
    auto options = std::make_shared<Node>(QString::fromStdString(LSFK("Options")));

    const Node *node = m_sourceController->nodeForIndex(selected.first());
    const std::optional<XFSDiskOrDirectory> record =
        node ? XTWStore::shared().diskOrDirectoryDetailsForKey(node->key()) : std::nullopt;
    if (record) {
        m_lastSelectedDiskOrDirectoryKey = record->storageKey();
        std::vector<XFSDetailsFlagItem> items = record->flagsItemsForDisplay();
        QCollator collator;
        std::stable_sort(items.begin(), items.end(), [&collator](const XFSDetailsFlagItem &a, const XFSDetailsFlagItem &b) {
            if (a.sortGroup() != b.sortGroup())
                return static_cast<int>(a.sortGroup()) < static_cast<int>(b.sortGroup());
            return collator.compare(QString::fromStdString(a.displayName()), QString::fromStdString(b.displayName())) < 0;
        });
        for (const XFSDetailsFlagItem &item : items) {
            auto leaf = std::make_shared<Node>(QString::fromStdString(item.displayName()));
            leaf->setKey(item.uniqueKey());
            leaf->setIsLeaf(true);
            leaf->setEnabled(item.enabled());
            (item.type() == XFSDetailsFlagItem::ItemType::userOption ? options : itemsToDelete)->addChild(std::move(leaf));
        }
    }

    m_detailsController->setContent({itemsToDelete, options});
    const QModelIndex itemsToDeleteRow = tableItemForGroup(*itemsToDelete);
    const QModelIndex optionsRow = tableItemForGroup(*options);
    if (g_detailsExpansionStates.size() == 2) {
        m_detailsTable->setExpanded(itemsToDeleteRow, g_detailsExpansionStates[0]);
        m_detailsTable->setExpanded(optionsRow, g_detailsExpansionStates[1]);
    }
    populateModeRadio();
}

void MainUIController::saveAndPopulateDetailsTable()
{
    storeAnyChangesToFlags();
    populateDetailsTable();
}

void MainUIController::storeAnyChangesToFlags()
{
    if (m_lastSelectedDiskOrDirectoryKey.empty() || !m_detailsController)
        return;
    std::vector<const Node *> leaves;
    for (const std::shared_ptr<Node> &group : m_detailsController->content())
        for (const std::shared_ptr<Node> &leaf : group->children())
            leaves.push_back(leaf.get());

    XTWStore &store = XTWStore::shared();
    std::optional<XFSDiskOrDirectory> record =
        store.diskOrDirectoryDetailsForKey(m_lastSelectedDiskOrDirectoryKey);
    if (!record)
        return;
    std::vector<XFSDetailsFlagItem> changed;
    for (const Node *leaf : leaves) {
        const std::optional<XFSDetailsFlagItem> item = record->findFlag(leaf->key());
        if (item)
            changed.push_back(item->withEnabled(leaf->enabled()).withEditable(true));
    }
    record->updateFlags(changed);
    store.update(*record);
}

void MainUIController::populateModeRadio()
{
    const std::vector<XFSDiskOrDirectory> records = selectedSourceDetails();
    if (records.empty())
        return;
    const XFSDiskOrDirectory &record = records.front();
    if (QAbstractButton *row = m_modeSwitchRadioGroup->button(static_cast<int>(record.mode())))
        row->setChecked(true);
    updateModeRadio(record.uniqueDiskKey() == XFSDiskOrDirectory::serversStorageKey,
                    record.uniqueDiskKey() == XFSDiskOrDirectory::disksStorageKey,
                    QString::fromStdString(record.displayName()));
}

void MainUIController::updateModeRadio(bool hasServersUniqueKey, bool hasDisksUniqueKey, const QString &title)
{
    QString subject;
    if (hasServersUniqueKey)
        subject = QString::fromStdString(LSFK("network disks"));
    else if (hasDisksUniqueKey)
        subject = QString::fromStdString(LSFK("non Mac disks"));
    else
        subject = QStringLiteral("\"%1\"").arg(title);

    const bool builtIn = hasServersUniqueKey || hasDisksUniqueKey;
    if (QAbstractButton *ask = m_modeSwitchRadioGroup->button(static_cast<int>(XFSDiskOrDirectory::CleanMode::askToClean)))
        ask->setEnabled(builtIn);
    // A disabled label is drawn in the disabled text colour.
    m_textForAskRadioCaption->setEnabled(builtIn);

    m_textForAskRadioCaption->setText(filledFormat("Tarnwick will prompt you when %@ appear.", subject));
    m_textForDontCleanRadioCaption->setText(filledFormat("Tarnwick will ignore %@.", subject));
    m_textForCleanRadioCaption->setText(filledFormat("Tarnwick will keep %@ free of metadata.", subject));

    switch (m_modeSwitchRadioGroup->checkedId()) {
    case static_cast<int>(XFSDiskOrDirectory::CleanMode::alwaysClean):
        m_detailsTable->setEnabled(true);
        m_detailsTableContainer->show();
        break;
    case static_cast<int>(XFSDiskOrDirectory::CleanMode::ignore):
    case static_cast<int>(XFSDiskOrDirectory::CleanMode::askToClean):
        m_detailsTable->setEnabled(false);
        m_detailsTableContainer->hide();
        break;
    default:
        break;
    }
}

void MainUIController::modeRadioSelectionChanged()
{
    std::vector<XFSDiskOrDirectory> records = selectedSourceDetails();
    if (records.empty())
        return;
    XFSDiskOrDirectory &record = records.front();
    const int row = m_modeSwitchRadioGroup->checkedId();
    if (row >= 0 && row <= 2)
        record.setMode(static_cast<XFSDiskOrDirectory::CleanMode>(row));
    XTWStore::shared().update(record);
    if (record.mode() != XFSDiskOrDirectory::CleanMode::ignore)
        makeSureHelperToolIsInstalledIfNeeded();
    storeAnyChangesToFlags();
    saveAndPopulateDetailsTable();
}

bool MainUIController::outlineViewIsGroupItem(const Node &item) const
{
    return !item.isLeaf();
}

bool MainUIController::outlineViewShouldTrackCell(const QTreeView *outlineView, const Node &item) const
{
    return outlineView != m_detailsTable || item.isLeaf();
}

QModelIndex MainUIController::tableItemForGroup(const Node &group) const
{
    for (int row = 0; row < m_detailsController->rowCount(); ++row) {
        const QModelIndex index = m_detailsController->index(row, 0);
        if (m_detailsController->nodeForIndex(index) == &group)
            return index;
    }
    return {};
}
