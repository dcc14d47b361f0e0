#include "MainUIController.h"

#include <QModelIndex>

void MainUIController::addLoginItem()
{
}

void MainUIController::removeLoginItem()
{
}

bool MainUIController::loginItemExists() const
{
    return false;
}
