#include "FenDispatch.h"

#include "BundleInfo.h"
#include "GCDAdditions.h"
#include "MainThread.h"
#include "OperationQueue.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

namespace
{
// The maker's reverse-DNS prefix: the bundle identifier without its last part.
std::string makerPrefix()
{
    const std::string identifier = TARNWICK_BUNDLE_IDENTIFIER;
    return identifier.substr(0, identifier.rfind('.'));
}

// Never destroyed: a queue waits for its work when it goes, and the process may end with work queued.
OperationQueue &concurrentQueue()
{
    static OperationQueue *queue =
        new OperationQueue(makerPrefix() + ".fenDispatchConcurrently",
                           std::max(2, int(std::thread::hardware_concurrency())));
    return *queue;
}

OperationQueue &serialQueue()
{
    static OperationQueue *queue = new OperationQueue(makerPrefix() + ".GCDAdditions.dispatchSeriallySerialQueue", 1);
    return *queue;
}
}

void fenDispatchOnMain(FenDispatchBlock block)
{
    GCDAdditions::onMain(std::move(block));
}

void fenDispatchConcurrently(FenDispatchBlock block)
{
    concurrentQueue().addOperationWithBlock(std::move(block));
}

void fenDispatchSerially(FenDispatchBlock block)
{
    serialQueue().addOperationWithBlock(std::move(block));
}

void fenDispatchAfterDelay(FenDispatchBlock block, double seconds)
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    const auto headroom = duration_cast<nanoseconds>(steady_clock::time_point::max() - now);
    // NaN and negative delays run at once; a delay past the clock's end never comes.
    const double wanted = std::isnan(seconds) || seconds < 0 ? 0.0 : seconds * 1e9;
    if (wanted >= double(headroom.count()))
        return;
    MainThread::postAt(now + nanoseconds(std::int64_t(wanted)), std::move(block));
}
