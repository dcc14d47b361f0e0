#include "LauncherCommands.h"

const std::vector<LauncherCommand> &launcherCommands()
{
    static const std::vector<LauncherCommand> commands = {
        {"choose-and-clean", "choose a disk, folder or archive to clean"},
        {"choose-and-clean-attributes", "choose a file or folder to strip of extended attributes"},
        {"show-window", "show the main window"},
        {"show-log", "show the log"},
        {"quit", "quit the running Tarnwick"},
    };
    return commands;
}
