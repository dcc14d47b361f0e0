#pragma once

#include <string>
#include <vector>

// The status menu's fixed commands as the desktop's launcher offers them ("Actions=" of the
// desktop file): each is an option of tarnwick that hands the command to the running instance.
struct LauncherCommand
{
    // The command's name on the instance channel; the option is "--" followed by it.
    std::string name;
    // The help line.
    std::string description;
};

const std::vector<LauncherCommand> &launcherCommands();
