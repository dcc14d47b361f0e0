#pragma once

#include <chrono>
#include <functional>

#include "TallowExport.h"

// The main thread is the Qt application's thread. Work posted here runs on the
// main event loop, first in, first out, and never inside the posting call; work
// posted before the application object exists runs once it does.
class TALLOW_EXPORT MainThread
{
public:
    using Block = std::function<void()>;

    static bool isCurrent();
    static void post(Block block);
    // Runs the block on the main thread once the monotonic deadline has passed.
    // May be called from any thread.
    static void postAt(std::chrono::steady_clock::time_point deadline, Block block);
};
