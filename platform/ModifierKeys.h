#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "TallowExport.h"

// The modifier keys held down, as the flag bits of the desktop's input events.
// The user interface samples them on the main thread; any thread reads them.
class TALLOW_EXPORT ModifierKeys
{
public:
    static constexpr std::uint64_t shiftKeyMask = 0x20000;
    static constexpr std::uint64_t controlKeyMask = 0x40000;
    static constexpr std::uint64_t optionKeyMask = 0x80000; // Alt
    static constexpr std::uint64_t commandKeyMask = 0x100000; // Meta

    // On the main thread, asked of the live reader when one is registered (and
    // kept as the latest sample); elsewhere, or without a reader, the latest sample.
    static std::uint64_t currentFlags();
    // Keeps the flags of the latest input event.
    static void record(std::uint64_t flags);
    // The main thread's reader of the keyboard as it is now; empty removes it.
    static void setLiveReader(std::function<std::uint64_t()> reader);
    // Every read answers these flags until nullopt restores the samples.
    static void setFlagsForTesting(std::optional<std::uint64_t> flags);
};

// The Option (Alt) key is held down now.
TALLOW_EXPORT bool IsOptionKeyDown();
