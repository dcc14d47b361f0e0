#pragma once

#include <string>
#include <vector>

// What one start of tarnwick is asked to do, read from its arguments before any window system is
// reached: print its help or version, refuse a mistaken call, or run with the paths to clean
// (as the kernel resolves them against the current folder) or one of the launcher's commands.
struct CommandLine
{
    enum class Action
    {
        run,
        printHelp,
        printVersion,
        refuse
    };

    // Exit statuses of a refused call.
    static constexpr int missingPathStatus = 1;
    static constexpr int usageStatus = 2;

    Action action = Action::run;
    std::vector<std::string> paths;
    // A launcher command ("show-window" ...), empty for none.
    std::string command;
    // For refuse: the lines for standard error, and the exit status.
    std::string problem;
    int status = 0;

    // Arguments beginning with "-" are options unless they follow "--"; one that is not among
    // Tarnwick's own is refused. Every path must lead to an item: its links, "." and ".." are
    // resolved by the kernel, and its bytes are kept whether or not they are UTF-8.
    static CommandLine parse(int argc, char **argv);

    static std::string helpText();
    static std::string versionText();
};
