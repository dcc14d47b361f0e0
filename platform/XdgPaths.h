#pragma once

#include <string>

#include "TallowExport.h"

// The user's folders as the XDG base directory rules place them.
class TALLOW_EXPORT XdgPaths
{
public:
    // $HOME when set, else the home folder of the password database's entry for this user.
    static std::string homeFolder();
    // $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
    static std::string configHome();
    // $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
    static std::string cacheHome();
    // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    static std::string dataHome();
    // The account's name from the password database (not $USER, which may be another's).
    static std::string userName();
    // The application's caches folder: <cache home>/<bundle identifier> (not created here).
    static std::string applicationCachesFolder();

    // A leading "~" or "~/" stands for the home folder; any other path is returned unchanged.
    static std::string expandTilde(const std::string &path);
};
