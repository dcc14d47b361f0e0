#include "MainUIController.h"

#include <QModelIndex>

void MainUIController::populateDetailsTable()
{
}

void MainUIController::saveAndPopulateDetailsTable()
{
}

void MainUIController::storeAnyChangesToFlags()
{
}

void MainUIController::populateModeRadio()
{
}

void MainUIController::updateModeRadio(bool, bool, const QString &)
{
}

void MainUIController::modeRadioSelectionChanged()
{
}

std::vector<XFSDiskOrDirectory> MainUIController::selectedSourceDetails() const
{
    return {};
}

bool MainUIController::outlineViewIsGroupItem(const Node &) const
{
    return false;
}

bool MainUIController::outlineViewShouldTrackCell(const QTreeView *, const Node &) const
{
    return true;
}

QModelIndex MainUIController::tableItemForGroup(const Node &) const
{
    return {};
}
