#include "ModifierKeys.h"

#include "MainThread.h"

#include <atomic>
#include <mutex>

namespace
{
std::atomic<std::uint64_t> g_sampledFlags{0};
std::mutex g_mutex;
std::function<std::uint64_t()> g_liveReader;
std::optional<std::uint64_t> g_scriptedFlags;
}

std::uint64_t ModifierKeys::currentFlags()
{
    std::function<std::uint64_t()> reader;
    {
        std::lock_guard lock(g_mutex);
        if (g_scriptedFlags)
            return *g_scriptedFlags;
        if (MainThread::isCurrent())
            reader = g_liveReader;
    }
    if (reader)
        record(reader());
    return g_sampledFlags.load();
}

void ModifierKeys::record(std::uint64_t flags)
{
    g_sampledFlags.store(flags);
}

void ModifierKeys::setLiveReader(std::function<std::uint64_t()> reader)
{
    std::lock_guard lock(g_mutex);
    g_liveReader = std::move(reader);
}

void ModifierKeys::setFlagsForTesting(std::optional<std::uint64_t> flags)
{
    std::lock_guard lock(g_mutex);
    g_scriptedFlags = flags;
}

bool IsOptionKeyDown()
{
    return (ModifierKeys::currentFlags() & ModifierKeys::optionKeyMask) != 0;
}
