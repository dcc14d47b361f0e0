#include "XdgPaths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include "Bundle.h"
#include "BundleInfo.h"

namespace
{
// The calling user's entry in the password database; thread-safe.
template<typename Field>
std::string passwordDatabaseField(Field field, const std::string &fallback)
{
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->*field)
        return found->*field;
    return fallback;
}

// The XDG rules ignore a relative path in these variables.
std::string absoluteEnvironmentPath(const char *name)
{
    const char *value = std::getenv(name);
    if (value && value[0] == '/')
        return value;
    return {};
}
}

std::string XdgPaths::homeFolder()
{
    const char *home = std::getenv("HOME");
    if (home && home[0] != '\0')
        return home;
    return passwordDatabaseField(&passwd::pw_dir, "/");
}

std::string XdgPaths::configHome()
{
    const std::string configured = absoluteEnvironmentPath("XDG_CONFIG_HOME");
    return configured.empty() ? homeFolder() + "/.config" : configured;
}

std::string XdgPaths::cacheHome()
{
    const std::string configured = absoluteEnvironmentPath("XDG_CACHE_HOME");
    return configured.empty() ? homeFolder() + "/.cache" : configured;
}

std::string XdgPaths::applicationCachesFolder()
{
    return cacheHome() + "/" + Bundle::main().bundleIdentifier().value_or(TARNWICK_BUNDLE_IDENTIFIER);
}

std::string XdgPaths::expandTilde(const std::string &path)
{
    if (path == "~")
        return homeFolder();
    if (path.starts_with("~/"))
        return homeFolder() + path.substr(1);
    return path;
}

std::string XdgPaths::dataHome()
{
    const std::string configured = absoluteEnvironmentPath("XDG_DATA_HOME");
    return configured.empty() ? homeFolder() + "/.local/share" : configured;
}

std::string XdgPaths::userName()
{
    return passwordDatabaseField(&passwd::pw_name, "");
}
