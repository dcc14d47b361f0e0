#include "MainUIController.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "Alert.h"
#include "AutostartEntries.h"
#include "LocalizedString.h"

namespace
{
// The program the login entry starts: this one when it is the installed "tarnwick", else
// "tarnwick" as the desktop finds it.
std::string loginProgram()
{
    const QString running = QCoreApplication::applicationFilePath();
    if (QFileInfo(running).fileName() == QLatin1String("tarnwick"))
        return running.toStdString();
    return "tarnwick";
}
}

void MainUIController::addLoginItem()
{
    switch (AutostartEntries::add(loginProgram())) {
    case AutostartEntries::AddResult::added:
        break;
    case AutostartEntries::AddResult::folderUnavailable:
        alertError(QString::fromStdString(
            LSFK("Couldn't access login items to add Tarnwick. Please contact support for assistace.")));
        break;
    case AutostartEntries::AddResult::writeFailed:
        alertError(QString::fromStdString(
            LSFK("Couldn't add Tarnwick to login items. Please contact support for assistace.")));
        break;
    }
}

void MainUIController::removeLoginItem()
{
    AutostartEntries::removeAll();
}

bool MainUIController::loginItemExists() const
{
    return !AutostartEntries::tarnwickEntries().empty();
}

void MainUIController::setLaunchAtLoginUsingServiceManagement(bool enabled)
{
    const bool done = enabled ? AutostartEntries::add(loginProgram()) == AutostartEntries::AddResult::added
                              : AutostartEntries::removeAll();
    if (done)
        return;
    Alert::alert("An error ocurred", "OK", std::nullopt, std::nullopt,
                 enabled ? "Couldn't add Tarnwick to launch at login item list."
                         : "Couldn't remove Tarnwick from launch at login item list.")
        .runModal();
}
