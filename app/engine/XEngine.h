#pragma once

#include <optional>
#include <string>

#include "TWVolumeInfo.h"
#include "URL.h"

// One cleaning run. Its path tests need no run and are asked by the store and the disk-arrival code.
class XEngine
{
public:
    // True when the item must not be cleaned. Hands back the volume facts it read; leaves
    // volumeInfo alone when none could be read.
    static bool shouldIgnoreVolume(const URL &url, std::optional<TWVolumeInfo> &volumeInfo);
    // The built-in ignore list and the user's white list.
    static bool isInIgnoreList(const URL &url);
    // The user's white list alone.
    static bool isInWhiteList(const std::string &path);
};
