#include "ApplicationStartup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <memory>
#include <set>

#include "Beep.h"
#include "Core.h"
#include "FileDialogOpenPanel.h"
#include "KeepCleanPromptWindow.h"
#include "ModifierKeySampler.h"
#include "MountWatcher.h"
#include "Pasteboard.h"
#include "ProgressWindowFactory.h"
#include "SystemLog.h"
#include "XEngineFSEvents.h"

namespace
{
// Qt's own options that take the next argument as their value.
const std::set<std::string> qtOptionsWithValue = {
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-qwindowicon",
    "-qwindowtitle", "-style", "-stylesheet", "-session", "-display", "-geometry", "-name", "-title"};
}

std::vector<std::string> commandLinePaths(int argc, char **argv)
{
    std::vector<std::string> paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument.starts_with('-')) {
            const std::string option = argument.starts_with("--") ? argument.substr(1) : argument;
            if (qtOptionsWithValue.contains(option))
                ++i;
            continue;
        }
        if (argument.empty())
            continue;
        paths.push_back(QFileInfo(QDir::current(), QString::fromStdString(argument)).absoluteFilePath().toStdString());
    }
    return paths;
}

void startApplication()
{
    Beep::setPlayer([] { QApplication::beep(); });
    ModifierKeySampler::install();
    ProgressDisplayFactory::setCurrent(std::make_shared<ProgressWindowFactory>());
    FileDialogOpenPanel::install();
    KeepCleanPromptWindow::install();
    MountWatcher::shared().start();
    Core::sharedInstance();
    XEngineFSEvents::defaultWatcher().makeThread();
}

void handleHandedOverPaths(const std::vector<std::string> &paths)
{
    if (paths.empty()) {
        SystemLog::write("Asked to show the main window.");
        return;
    }
    for (const std::string &path : paths)
        SystemLog::write("Asked to clean " + path);
    Core::sharedInstance().cleanItemService(Pasteboard::withFileNames(paths), "", nullptr);
}
