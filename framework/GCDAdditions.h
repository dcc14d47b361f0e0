#pragma once

#include <functional>
#include <memory>
#include <string>

#include "BlockOperationWithTime.h"
#include "OperationQueue.h"
#include "TallowExport.h"

// The one dispatch facility: hops to the main thread, delayed blocks, blocks
// throttled by name, and serial work off the main thread.
class TALLOW_EXPORT GCDAdditions
{
public:
    using Block = std::function<void()>;

    static constexpr float tinyDelay = 0.01f;

    GCDAdditions();
    virtual ~GCDAdditions();
    GCDAdditions(const GCDAdditions &) = delete;
    GCDAdditions &operator=(const GCDAdditions &) = delete;

    static GCDAdditions &defaultInstance();

    // Always asynchronous, also from the main thread.
    static void onMain(Block block);
    // Runs blocks one at a time, in the order given, on one thread that is not the main thread.
    virtual void serially(Block block);

    // The block runs on the main thread, no earlier than the delay, unless the
    // returned operation is cancelled first.
    static std::shared_ptr<BlockOperation> performBlockAfterDelay(float delay, Block block);
    static std::shared_ptr<BlockOperation> performBlockAfterTinyDelay(Block block);

    // A throttle: the first request for a name runs its block after the delay;
    // requests within the delay of the stored operation's creation get the
    // stored operation and their blocks never run; a request that finds the
    // stored operation older than the delay and still waiting cancels it, runs
    // its own block at once on the calling thread and schedules it again.
    static std::shared_ptr<BlockOperationWithTime> cancelPreviousThenPerformBlockWithName(const std::string &name,
                                                                                        float delay, Block block);
    static void cancelBlockWithName(const std::string &name);

    // The delay as the deadline is computed from it: single-precision
    // nanoseconds, truncated; NaN and negative delays count as 0 and a delay
    // too large for 64 bits of nanoseconds is cut to the largest that fits.
    static std::int64_t delayInNanoseconds(float delay);

private:
    static void schedule(const std::shared_ptr<BlockOperation> &operation, float delay);

    OperationQueue m_dispatchSerialQueue;
};
