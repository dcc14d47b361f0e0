#include "CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "ApplicationInfo.h"
#include "LauncherCommands.h"
#include "PhysicalPath.h"

namespace
{
const LauncherCommand *launcherCommandForOption(const std::string &option)
{
    const auto &commands = launcherCommands();
    const auto found = std::find_if(commands.begin(), commands.end(),
                                    [&option](const LauncherCommand &command) { return "--" + command.name == option; });
    return found == commands.end() ? nullptr : &*found;
}

CommandLine refused(const std::string &problem, int status)
{
    CommandLine commandLine;
    commandLine.action = CommandLine::Action::refuse;
    commandLine.problem = problem;
    commandLine.status = status;
    return commandLine;
}
}

CommandLine CommandLine::parse(int argc, char **argv)
{
    CommandLine commandLine;
    std::string missing;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument.starts_with('-') && argument.size() > 1) {
            if (argument == "-h" || argument == "--help") {
                commandLine.action = Action::printHelp;
                return commandLine;
            }
            if (argument == "--version") {
                commandLine.action = Action::printVersion;
                return commandLine;
            }
            if (const LauncherCommand *command = launcherCommandForOption(argument)) {
                if (!commandLine.command.empty() && commandLine.command != command->name)
                    return refused("tarnwick: " + argument + " cannot be combined with --" + commandLine.command
                                       + ".\nTry 'tarnwick --help' for more information.\n",
                                   usageStatus);
                commandLine.command = command->name;
                continue;
            }
            // Anything else is a mistake, Qt's own options too (Qt is given none): a PATH that
            // begins with "-" follows "--".
            return refused("tarnwick: unknown option " + argument + "\nTry 'tarnwick --help' for more information.\n",
                           usageStatus);
        }
        if (argument.empty())
            continue;
        // The kernel's own resolution, against this start's current folder: the bytes stay as
        // given, and ".." after a link leads where the kernel goes, never to a textual fold.
        errno = 0;
        const std::optional<std::string> path = physicalPath(argument);
        if (!path)
            missing += "tarnwick: cannot clean " + argument + ": " + std::strerror(errno ? errno : ENOENT) + "\n";
        else
            commandLine.paths.push_back(*path);
    }
    if (!missing.empty())
        return refused(missing + "Nothing was cleaned.\n", missingPathStatus);
    if (!commandLine.command.empty() && !commandLine.paths.empty())
        return refused("tarnwick: --" + commandLine.command
                           + " takes no paths.\nTry 'tarnwick --help' for more information.\n",
                       usageStatus);
    return commandLine;
}

std::string CommandLine::helpText()
{
    std::string text = "Usage: tarnwick [PATH...]\n"
                       "  or:  tarnwick OPTION\n"
                       "Keeps disks, shares and folders free of Mac metadata: \".DS_Store\" files, \"._\" files,\n"
                       "\".AppleDouble\" folders and the like.\n"
                       "\n"
                       "With PATHs, Tarnwick cleans those disks, folders and zip archives as one request, in\n"
                       "order. Without, it starts Tarnwick, which then keeps watching in the background; a\n"
                       "start while Tarnwick runs hands everything to the running Tarnwick.\n"
                       "\n";
    for (const LauncherCommand &command : launcherCommands()) {
        std::string option = "  --" + command.name;
        option.resize(std::max<std::size_t>(option.size() + 2, 26), ' ');
        text += option + command.description + "\n";
    }
    text += "  -h, --help              print this help and exit\n"
            "  --version               print the version and exit\n"
            "  --                      take every later argument as a PATH, even one beginning with -\n"
            "\n"
            "Exit status: 0 when done, 1 when a PATH does not exist (nothing is cleaned then),\n"
            "2 for a mistaken call.\n";
    return text;
}

std::string CommandLine::versionText()
{
    return "Tarnwick " + Application::bundleVersionShort() + " (build " + std::to_string(Application::bundleVersion())
           + ")\n";
}
