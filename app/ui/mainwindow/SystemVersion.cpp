#include "SystemVersion.h"

namespace
{
std::optional<QVersionNumber> g_versionForTesting;
}

std::optional<QVersionNumber> SystemVersion::macOSVersion()
{
    return g_versionForTesting;
}

void SystemVersion::setMacOSVersionForTesting(std::optional<QVersionNumber> version)
{
    g_versionForTesting = std::move(version);
}
