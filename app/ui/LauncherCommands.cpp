#include "LauncherCommands.h"

const std::vector<LauncherCommand> &launcherCommands()
{
    static const std::vector<LauncherCommand> commands = {
        {"show-window", "show the main window"},
        {"choose-and-clean", "choose a disk, folder or archive to clean"},
        {"show-log", "show the log"},
        {"quit", "quit the running Tarnwick"},
    };
    return commands;
}
