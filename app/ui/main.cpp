#include <QApplication>

#include <chrono>
#include <cstdio>

#include "ApplicationStartup.h"
#include "InstanceChannel.h"
#include "MainThread.h"

namespace
{
// How long a start waits for a running instance to take its paths.
constexpr std::chrono::seconds handOverTimeout(20);
}

int main(int argc, char **argv)
{
    const std::vector<std::string> paths = commandLinePaths(argc, argv);

    InstanceChannel channel;
    std::string error;
    switch (channel.handOverOrBecomeInstance(paths, handOverTimeout, error)) {
    case InstanceChannel::Outcome::handedOver:
        return 0;
    case InstanceChannel::Outcome::failed:
        std::fprintf(stderr, "tarnwick: %s\n", error.c_str());
        return 1;
    case InstanceChannel::Outcome::becameInstance:
        break;
    }

    QApplication app(argc, argv);
    channel.listen(handleHandedOverPaths);
    startApplication();
    // The start's own paths are handled once start-up is done.
    if (!paths.empty())
        MainThread::post([paths] { handleHandedOverPaths(paths); });
    return app.exec();
}
