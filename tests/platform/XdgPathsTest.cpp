#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include "EnvironmentOverride.h"
#include "XdgPaths.h"

TEST(XdgPaths, HomeComesFromThePasswordDatabaseWithoutHOME)
{
    const passwd *entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    for (const std::optional<std::string> &home : {std::optional<std::string>(), std::optional<std::string>("")}) {
        const EnvironmentOverride override("HOME", home);
        EXPECT_EQ(XdgPaths::homeFolder(), entry->pw_dir);
    }
}

TEST(XdgPaths, RelativeOrMissingBaseFoldersFallBackToTheHomeFolder)
{
    const EnvironmentOverride home("HOME", "/home/tester");
    const EnvironmentOverride config("XDG_CONFIG_HOME", std::nullopt);
    const EnvironmentOverride cache("XDG_CACHE_HOME", "relative/cache");
    EXPECT_EQ(XdgPaths::configHome(), "/home/tester/.config");
    EXPECT_EQ(XdgPaths::cacheHome(), "/home/tester/.cache");
    EXPECT_EQ(XdgPaths::expandTilde("~/a"), "/home/tester/a");
    EXPECT_EQ(XdgPaths::expandTilde("~other/a"), "~other/a");
}
