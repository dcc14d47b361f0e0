#include "MainUIController.h"

#include <QModelIndex>

void MainUIController::helpAction(QObject *)
{
}

void MainUIController::helpDoneAction()
{
}

void MainUIController::setupHelp()
{
}

void MainUIController::showDiagnosticInfo()
{
}

void MainUIController::warnIfRunningOnDiskImage()
{
}

QString MainUIController::diagInfo(bool, const QString &)
{
    return {};
}

QString MainUIController::iconAttributedString() const
{
    return {};
}

QString MainUIController::tarnwickInfoAttributedString() const
{
    return {};
}
