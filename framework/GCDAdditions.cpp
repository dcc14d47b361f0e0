#include "GCDAdditions.h"

#include "MainThread.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>

namespace
{
struct NamedBlocks
{
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<BlockOperationWithTime>> namesAndBlocks;
};

NamedBlocks &namedBlocks()
{
    static NamedBlocks *table = new NamedBlocks;
    return *table;
}
}

GCDAdditions::GCDAdditions() : m_dispatchSerialQueue("org.tarnwick.GCDAdditions.dispatchSerialQueue", 1) {}

GCDAdditions::~GCDAdditions() = default;

GCDAdditions &GCDAdditions::defaultInstance()
{
    static GCDAdditions *instance = new GCDAdditions;
    return *instance;
}

void GCDAdditions::onMain(Block block)
{
    MainThread::post(std::move(block));
}

void GCDAdditions::serially(Block block)
{
    m_dispatchSerialQueue.addOperationWithBlock(std::move(block));
}

std::int64_t GCDAdditions::delayInNanoseconds(float delay)
{
    if (std::isnan(delay) || delay <= 0)
        return 0;
    const float nanoseconds = delay * 1000000000.0f;
    // 2^63 is exactly representable as a float; anything at or above it does not fit.
    if (nanoseconds >= 9223372036854775808.0f)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(nanoseconds);
}

void GCDAdditions::schedule(const std::shared_ptr<BlockOperation> &operation, float delay)
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    const nanoseconds wanted(delayInNanoseconds(delay));
    // Keep the deadline representable on the clock.
    const auto headroom = duration_cast<nanoseconds>(steady_clock::time_point::max() - now);
    const auto deadline = now + (wanted < headroom ? wanted : headroom);
    MainThread::postAt(deadline, [operation] {
        if (!operation->isCancelled())
            OperationQueue::main().addOperation(operation);
    });
}

std::shared_ptr<BlockOperation> GCDAdditions::performBlockAfterDelay(float delay, Block block)
{
    auto operation = BlockOperation::blockOperationWithBlock(std::move(block));
    schedule(operation, delay);
    return operation;
}

std::shared_ptr<BlockOperation> GCDAdditions::performBlockAfterTinyDelay(Block block)
{
    return performBlockAfterDelay(tinyDelay, std::move(block));
}

std::shared_ptr<BlockOperationWithTime> GCDAdditions::cancelPreviousThenPerformBlockWithName(const std::string &name,
                                                                                           float delay, Block block)
{
    NamedBlocks &table = namedBlocks();
    std::shared_ptr<BlockOperationWithTime> overtaken;
    std::shared_ptr<BlockOperationWithTime> operation;
    {
        std::lock_guard lock(table.mutex);
        const auto found = table.namesAndBlocks.find(name);
        if (found != table.namesAndBlocks.end()) {
            const std::shared_ptr<BlockOperationWithTime> &stored = found->second;
            const double age =
                std::chrono::duration<double>(MonotonicClock::now() - stored->addedAtMonotonic()).count();
            if (age <= double(delay))
                return stored;
            if (!stored->isFinished() && !stored->isExecuting())
                overtaken = stored;
        }
        operation = BlockOperationWithTime::blockOperationWithBlock(block);
        table.namesAndBlocks[name] = operation;
        if (overtaken)
            overtaken->cancel();
        schedule(operation, delay);
    }
    // The overtaken request's time has come: this block runs now, outside the
    // table's lock, and again after the delay.
    if (overtaken)
        block();
    return operation;
}

void GCDAdditions::cancelBlockWithName(const std::string &name)
{
    NamedBlocks &table = namedBlocks();
    std::lock_guard lock(table.mutex);
    const auto found = table.namesAndBlocks.find(name);
    if (found == table.namesAndBlocks.end())
        return;
    found->second->cancel();
    table.namesAndBlocks.erase(found);
}
