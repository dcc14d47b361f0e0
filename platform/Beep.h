#pragma once

#include <functional>

#include "TallowExport.h"

// The desktop's beep, which the user interface registers. A process without a user interface
// (the command-line hand-over, a benchmark, a tool) has no player and stays silent.
class TALLOW_EXPORT Beep
{
public:
    static void play();
    // Empty removes the player.
    static void setPlayer(std::function<void()> player);
};
