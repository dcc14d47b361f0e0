#include "MainThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>

#include <climits>
#include <mutex>
#include <utility>
#include <vector>

#include "ThreadSanitizer.h"

namespace
{
// Blocks posted before the application object exists wait here for it. Whether it exists is
// asked under this lock, so that no block is left here after the wait has ended.
std::mutex g_earlyMutex;
std::vector<MainThread::Block> g_earlyBlocks;

std::vector<MainThread::Block> takeEarlyBlocks()
{
    std::lock_guard lock(g_earlyMutex);
    return std::exchange(g_earlyBlocks, {});
}

// A block on its way to the main thread, made whole before it is posted.
class BlockEvent final : public QEvent
{
public:
    static QEvent::Type eventType()
    {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    explicit BlockEvent(MainThread::Block block) : QEvent(eventType()), m_block(std::move(block)) {}
    void run() { m_block(); }

private:
    MainThread::Block m_block;
};

// Runs the blocks posted to it, on the main thread.
class BlockRunner final : public QObject
{
public:
    bool event(QEvent *event) override
    {
        ThreadSanitizer::takeOver(event);
        if (event->type() != BlockEvent::eventType())
            return QObject::event(event);
        static_cast<BlockEvent *>(event)->run();
        return true;
    }
};

// The runner of the application's thread, made on first use.
BlockRunner *runnerOf(QCoreApplication *app)
{
    static std::mutex mutex;
    static QCoreApplication *owner = nullptr;
    static BlockRunner *runner = nullptr;
    std::lock_guard lock(mutex);
    if (owner != app) {
        runner = new BlockRunner;
        runner->moveToThread(app->thread());
        owner = app;
    }
    return runner;
}

// Posted events keep their order on the main thread, whoever receives them.
void postToApplication(QCoreApplication *app, MainThread::Block block)
{
    auto *event = new BlockEvent(std::move(block));
    ThreadSanitizer::handOver(event);
    QCoreApplication::postEvent(runnerOf(app), event);
}

// Runs as the application object is made: the waiting blocks go first.
void flushEarlyBlocks()
{
    for (auto &block : takeEarlyBlocks())
        postToApplication(QCoreApplication::instance(), std::move(block));
}
}

Q_COREAPP_STARTUP_FUNCTION(flushEarlyBlocks)

namespace
{
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
    QCoreApplication *app = nullptr;
    std::vector<Block> early;
    {
        std::lock_guard lock(g_earlyMutex);
        app = QCoreApplication::instance();
        if (!app) {
            g_earlyBlocks.push_back(std::move(block));
            return;
        }
        // The application may exist before its start-up flush has run: keep first in, first out.
        early.swap(g_earlyBlocks);
    }
    for (auto &earlier : early)
        postToApplication(app, std::move(earlier));
    postToApplication(app, std::move(block));
}

void MainThread::postAt(std::chrono::steady_clock::time_point deadline, Block block)
{
    // Timers belong to the main thread: hop there first, then arm.
    post([deadline, block = std::move(block)]() mutable { armTimer(deadline, std::move(block)); });
}
