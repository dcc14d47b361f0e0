#include "MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <climits>
#include <mutex>
#include <vector>

namespace
{
// Blocks posted before the application object exists wait here for it.
std::mutex g_earlyMutex;
std::vector<MainThread::Block> g_earlyBlocks;

void flushEarlyBlocks(QCoreApplication *app)
{
    std::vector<MainThread::Block> early;
    {
        std::lock_guard lock(g_earlyMutex);
        early.swap(g_earlyBlocks);
    }
    for (auto &block : early)
        QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

// Arms a main-thread timer for the remaining time; QTimer takes an int of
// milliseconds, so a far deadline is reached in several steps.
void armTimer(std::chrono::steady_clock::time_point deadline, MainThread::Block block)
{
    using namespace std::chrono;
    // Rounded up: a timer never fires before its deadline.
    const auto remaining = ceil<milliseconds>(deadline - steady_clock::now()).count();
    if (remaining <= 0) {
        block();
        return;
    }
    const int interval = remaining > INT_MAX ? INT_MAX : int(remaining);
    QTimer::singleShot(interval, Qt::PreciseTimer, QCoreApplication::instance(),
                       [deadline, block = std::move(block)]() mutable {
                           if (steady_clock::now() < deadline)
                               armTimer(deadline, std::move(block));
                           else
                               block();
                       });
}
}

bool MainThread::isCurrent()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void MainThread::post(Block block)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        std::lock_guard lock(g_earlyMutex);
        g_earlyBlocks.push_back(std::move(block));
        return;
    }
    flushEarlyBlocks(app);
    QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

void MainThread::postAt(std::chrono::steady_clock::time_point deadline, Block block)
{
    // Timers belong to the main thread: hop there first, then arm.
    post([deadline, block = std::move(block)]() mutable { armTimer(deadline, std::move(block)); });
}
