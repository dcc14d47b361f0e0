#include "MainUIController.h"

#include <QModelIndex>

void MainUIController::show()
{
}

void MainUIController::savePreferences()
{
}

void MainUIController::windowDidResignKey()
{
}

void MainUIController::vaidateOpenAtLoginMenuItem(QAction *)
{
}

void MainUIController::validateShowInDockMenuItem(QAction *)
{
}

void MainUIController::automaticallyCheckForUpdates()
{
}

void MainUIController::alertError(const QString &)
{
}

void MainUIController::openAtLogin()
{
}

void MainUIController::makeSureHelperToolIsInstalledIfNeeded()
{
}

void MainUIController::applyShowInDock()
{
}

void MainUIController::showInDockUserAction()
{
}

void MainUIController::setLaunchAtLoginUsingServiceManagement(bool)
{
}

void MainUIController::quitAction()
{
}

void MainUIController::showAcknowledgments()
{
}

void MainUIController::cleanUsingTarnwickMenuAction()
{
}

void MainUIController::cleanUsingTarnwickMenuActionAlternate()
{
}

void MainUIController::cleanUsingTarnwickMenuActionShiftWasDown(bool)
{
}

void MainUIController::setupLite()
{
}

void MainUIController::setupLiteSwift()
{
}

void MainUIController::showMojaveSpotlightAdvice()
{
}

bool MainUIController::validateMenuItem(QAction *)
{
    return true;
}
