#include "ApplicationInfo.h"

#include <charconv>

#include "Bundle.h"

namespace
{
std::string infoString(const char *key)
{
    const Dictionary &info = Bundle::main().infoDictionary();
    const auto found = info.find(key);
    if (found != info.end() && found->second.asString())
        return *found->second.asString();
    return {};
}
}

std::int64_t Application::bundleVersion()
{
    const std::string text = infoString("CFBundleVersion");
    std::int64_t version = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), version);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return 0;
    return version;
}

std::string Application::bundleVersionShort()
{
    return infoString("CFBundleShortVersionString");
}

std::string Application::bundleCopyright()
{
    return infoString("NSHumanReadableCopyright");
}
