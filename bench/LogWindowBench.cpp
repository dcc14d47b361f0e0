// How the log window keeps up with a burst of lines logged from another thread: the time until
// every line shows, the longest the main thread went without turning its event loop, and the
// number of steps in which the lines were added. Prints its figures; asserts nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "BenchHome.h"
#include "LogWindowController.h"
#include "Logger.h"
#include "MainThread.h"

int main(int argc, char **argv)
{
    const BenchHome home;
    if (home.path().empty())
        return 2;
    QApplication app(argc, argv);

    const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    LogWindowController::showLogUserAction();
    bool registered = false;
    MainThread::post([&registered] { MainThread::post([&registered] { registered = true; }); });
    runEventLoopUntil([&registered] { return registered; });
    QTextDocument *document = LogWindowController::shared()->logTextView()->document();
    const int blocksBefore = document->blockCount();
    int steps = 0;
    QObject::connect(document, &QTextDocument::contentsChange, [&steps] { ++steps; });

    // The system log's copy on standard error would drown the figures.
    const int savedError = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    close(null);

    QElapsedTimer clock;
    qint64 lastTurn = 0;
    qint64 longestGap = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTurn);
        lastTurn = now;
    });
    clock.start();
    heartbeat.start(1);
    std::thread burst([lines] {
        for (int line = 0; line < lines; ++line)
            Logger::shared().log("burst line " + std::to_string(line));
    });
    runEventLoopUntil([&] { return document->blockCount() - blocksBefore >= lines; });
    const qint64 shown = clock.nsecsElapsed();
    burst.join();
    heartbeat.stop();

    dup2(savedError, STDERR_FILENO);
    close(savedError);
    std::printf("log window: %d lines from another thread shown after %.1f ms\n", lines, double(shown) / 1e6);
    std::printf("  longest main-thread gap between event-loop turns: %.2f ms\n", double(longestGap) / 1e6);
    std::printf("  lines added in %d steps (%.1f lines per step)\n", steps, double(lines) / std::max(1, steps));
    LogWindowController::shared()->window()->close();
    return 0;
}
