#include "MainUIController.h"

#include <QModelIndex>

void MainUIController::setupScheduledUI()
{
}

void MainUIController::setupScheduledCleanOptions()
{
}

void MainUIController::scheduledCleaningOptionsChanged()
{
}

void MainUIController::scheduledCleaningTimerFired()
{
}

bool MainUIController::scheduleShouldFireOnThisDay() const
{
    return true;
}
