#pragma once

#include <optional>
#include <string>

#include "TallowExport.h"
#include "Value.h"

// The application bundle: the Info dictionary compiled in from the project's
// version, and the resources folder found relative to the executable.
class TALLOW_EXPORT Bundle
{
public:
    static Bundle &main();

    // Nullopt only when a test has cleared it.
    std::optional<std::string> bundleIdentifier() const;
    // "CFBundleIdentifier", "CFBundleVersion", "CFBundleShortVersionString", "NSHumanReadableCopyright".
    const Dictionary &infoDictionary() const;

    // The resources folder: <executable dir>/../share/tarnwick, else the build tree's copy.
    std::string resourcesPath() const;
    // <resources>/<name>.<type> (or <name> when type is empty) when that file exists.
    std::optional<std::string> pathForResource(const std::string &name, const std::string &type) const;

    void setResourcesPathForTesting(const std::string &path);
    void setInfoDictionaryForTesting(const Dictionary &info);

private:
    Bundle();
    Dictionary m_info;
    std::string m_resourcesPath;
};
