#include "MainUIController.h"

#include <QModelIndex>

void MainUIController::populateSourceTable(const std::optional<QString> &)
{
}

void MainUIController::insertDividerItem()
{
}

void MainUIController::insertScheduleItem()
{
}

void MainUIController::outlineViewSelectionDidChange()
{
}

void MainUIController::addFolder()
{
}

void MainUIController::addFolderURL(const URL &)
{
}

void MainUIController::removeSourceItem()
{
}

void MainUIController::setupSourceTableMenu()
{
}

void MainUIController::showInFinderSourceMenuMenuItem()
{
}

void MainUIController::positionAdvancedButton()
{
}

int MainUIController::outlineViewHeightOfRowByItem(const Node &) const
{
    return 0;
}

bool MainUIController::outlineViewShouldSelectItem(const Node &) const
{
    return true;
}

bool MainUIController::showHFSWarningIfNeeded(const std::string &)
{
    return false;
}

bool MainUIController::isValidItem(const QMimeData *) const
{
    return false;
}

Qt::DropAction MainUIController::outlineViewValidateDrop(QTreeView *, const QMimeData *) const
{
    return Qt::IgnoreAction;
}

bool MainUIController::outlineViewAcceptDrop(QTreeView *, const QMimeData *)
{
    return false;
}
