#pragma once

#include <functional>

using FenDispatchBlock = std::function<void()>;

// Shortcuts for handing work to a thread; each may be called from any thread and
// never runs the block inside the call.

// On the main thread.
void fenDispatchOnMain(FenDispatchBlock block);
// On one of the shared worker threads, alongside other such blocks.
void fenDispatchConcurrently(FenDispatchBlock block);
// On one shared background thread, one block at a time in the order given.
void fenDispatchSerially(FenDispatchBlock block);
// On the main thread once the seconds have passed.
void fenDispatchAfterDelay(FenDispatchBlock block, double seconds);
