#include "Bundle.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "BundleInfo.h"

namespace
{
bool isFolder(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool exists(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

// <executable dir>/../share/tarnwick when installed (or in the build tree, which has the same
// layout), else the build tree's copy of the resources.
std::string findResourcesPath()
{
    char executable[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length > 0) {
        const std::string executablePath(executable, static_cast<std::size_t>(length));
        const std::string candidate = executablePath.substr(0, executablePath.rfind('/')) + "/../share/tarnwick";
        if (isFolder(candidate)) {
            char resolved[PATH_MAX];
            if (realpath(candidate.c_str(), resolved))
                return resolved;
        }
    }
    return TARNWICK_RESOURCES_BUILD_DIR;
}
}

Bundle &Bundle::main()
{
    static Bundle *const instance = new Bundle();
    return *instance;
}

Bundle::Bundle()
    : m_info{{"CFBundleIdentifier", Value(TARNWICK_BUNDLE_IDENTIFIER)},
             {"CFBundleName", Value("Tarnwick")},
             {"CFBundleVersion", Value(TARNWICK_BUNDLE_VERSION)},
             {"CFBundleShortVersionString", Value(TARNWICK_BUNDLE_SHORT_VERSION)},
             {"NSHumanReadableCopyright", Value(TARNWICK_COPYRIGHT)}},
      m_resourcesPath(findResourcesPath())
{
}

std::optional<std::string> Bundle::bundleIdentifier() const
{
    const auto found = m_info.find("CFBundleIdentifier");
    if (found != m_info.end() && found->second.asString())
        return *found->second.asString();
    return std::nullopt;
}

const Dictionary &Bundle::infoDictionary() const
{
    return m_info;
}

std::string Bundle::resourcesPath() const
{
    return m_resourcesPath;
}

std::optional<std::string> Bundle::pathForResource(const std::string &name, const std::string &type) const
{
    const std::string path = m_resourcesPath + "/" + (type.empty() ? name : name + "." + type);
    if (exists(path))
        return path;
    return std::nullopt;
}

void Bundle::setResourcesPathForTesting(const std::string &path)
{
    m_resourcesPath = path;
}

void Bundle::setInfoDictionaryForTesting(const Dictionary &info)
{
    m_info = info;
}
