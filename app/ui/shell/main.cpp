#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "AppDelegate.h"
#include "ApplicationStartup.h"
#include "CommandLine.h"
#include "InstanceChannel.h"
#include "MainThread.h"
#include "MainUIController.h"
#include "SystemLog.h"
#include "TWApp.h"
#include "TerminationSignals.h"

namespace
{
// How long a start waits for a running instance to take its paths.
constexpr std::chrono::seconds handOverTimeout(20);
}

int main(int argc, char **argv)
{
    const CommandLine commandLine = CommandLine::parse(argc, argv);
    switch (commandLine.action) {
    case CommandLine::Action::printHelp:
        std::fputs(CommandLine::helpText().c_str(), stdout);
        return 0;
    case CommandLine::Action::printVersion:
        std::fputs(CommandLine::versionText().c_str(), stdout);
        return 0;
    case CommandLine::Action::refuse:
        std::fputs(commandLine.problem.c_str(), stderr);
        return commandLine.status;
    case CommandLine::Action::run:
        break;
    }

    auto channel = std::make_unique<InstanceChannel>();
    std::string error;
    switch (channel->handOverOrBecomeInstance(commandLine.paths, handOverTimeout, error, commandLine.command)) {
    case InstanceChannel::Outcome::handedOver:
        return 0;
    case InstanceChannel::Outcome::failed:
        std::fprintf(stderr, "tarnwick: %s\n", error.c_str());
        return 1;
    case InstanceChannel::Outcome::becameInstance:
        break;
    }
    // A Tarnwick that does not run has nothing to quit.
    if (commandLine.command == "quit")
        return 0;

    std::unique_ptr<TWApp> application = makeApplicationOrExplain(argv[0]);
    // A request to end that arrives during start-up is taken once the event loop runs.
    TerminationSignals::install(&AppDelegate::terminate);
    AppDelegate delegate;
    AppDelegate::initialize();
    installUserInterfaceServices();
    delegate.setPreferencesController(MainUIController::loadFromInterfaceFile());
    delegate.applicationWillFinishLaunching();
    channel->listen(
        [&delegate](const std::vector<std::string> &paths) {
            if (paths.empty()) {
                SystemLog::write("Asked to show the main window.");
                delegate.applicationOpenUntitledFile();
            } else {
                delegate.applicationOpenFiles(paths);
            }
        },
        [&delegate](const std::string &command, const std::vector<std::string> &) {
            delegate.performLauncherCommand(command);
        });
    if (commandLine.paths.empty() && commandLine.command.empty())
        delegate.applicationOpenUntitledFile();
    delegate.applicationDidFinishLaunching();
    // What this start was asked for is done once start-up is.
    if (!commandLine.paths.empty())
        MainThread::post([&delegate, paths = commandLine.paths] { delegate.applicationOpenFiles(paths); });
    if (!commandLine.command.empty())
        MainThread::post([&delegate, command = commandLine.command] { delegate.performLauncherCommand(command); });

    const int status = application->exec();
    // Other starts find no instance from here on.
    channel.reset();
    // Cleans and the background watcher may still be running on their threads: nothing is torn
    // down under them.
    std::fflush(nullptr);
    ::_exit(status);
}
