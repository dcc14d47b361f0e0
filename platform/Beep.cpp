#include "Beep.h"

#include <mutex>

namespace
{
std::mutex playerMutex;
std::function<void()> registeredPlayer;
}

void Beep::play()
{
    std::function<void()> player;
    {
        std::lock_guard lock(playerMutex);
        player = registeredPlayer;
    }
    if (player)
        player();
}

void Beep::setPlayer(std::function<void()> player)
{
    std::lock_guard lock(playerMutex);
    registeredPlayer = std::move(player);
}
