#include "LauncherCommands.h"

const std::vector<LauncherCommand> &launcherCommands()
{
    static const std::vector<LauncherCommand> commands = {
        {"show-window", "show the main window", "showMainWindowItem"},
        {"choose-and-clean", "choose a disk, folder or archive to clean", "cleanUsingTarnwickItem"},
        {"show-log", "show the log", "showLogItem"},
        {"quit", "quit the running Tarnwick", "quitItem"},
    };
    return commands;
}
