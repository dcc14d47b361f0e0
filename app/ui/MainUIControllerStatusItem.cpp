#include "MainUIController.h"

#include <QModelIndex>

void MainUIController::statusItemVisibleChanged()
{
}

void MainUIController::setupStatusItem()
{
}

void MainUIController::rebuildStatusItemNotification()
{
}

void MainUIController::rebuildStatusItem()
{
}

void MainUIController::menuWillOpen(QMenu *)
{
}

void MainUIController::menuDidClose(QMenu *)
{
}

void MainUIController::statisticsManagerUpdate()
{
}

