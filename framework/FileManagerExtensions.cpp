#include "FileManagerExtensions.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

#include "Bundle.h"
#include "Error.h"
#include "FileOperations.h"
#include "XdgPaths.h"

namespace
{
std::string bundleIdentifierOrThrow()
{
    const std::optional<std::string> identifier = Bundle::main().bundleIdentifier();
    if (!identifier || identifier->empty())
        throw Error(Error::POSIXDomain, EINVAL,
                    Dictionary{{Error::LocalizedDescriptionKey, Value("The application bundle has no identifier.")}});
    return *identifier;
}

// mkdir -p: an existing folder (or a link to one) is fine, anything else in the way is not.
void createFolderWithIntermediates(const std::string &path)
{
    // The usual case, asked for once per log line: the folder is there already.
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
        return;
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        const std::string partial = path.substr(0, position);
        if (mkdir(partial.c_str(), 0777) == 0)
            continue;
        const int code = errno;
        struct stat status;
        if (code == EEXIST && stat(partial.c_str(), &status) == 0) {
            if (!S_ISDIR(status.st_mode))
                throw Error::posix(ENOTDIR);
            continue;
        }
        throw Error::posix(code);
    }
}

URL createdFolder(const std::string &path)
{
    const URL url = URL::fileURLWithPath(path);
    createFolderWithIntermediates(url.path());
    return url;
}
}

FileManager &FileManager::defaultManager()
{
    static FileManager manager;
    return manager;
}

URL FileManager::appCachesDirectory()
{
    return createdFolder(XdgPaths::cacheHome() + "/" + bundleIdentifierOrThrow());
}

URL FileManager::applicationScriptsDirectory()
{
    return createdFolder(XdgPaths::dataHome() + "/" + bundleIdentifierOrThrow() + "/Scripts");
}

bool FileManager::removeItem_NoThrow(const URL &url) const
{
    return FileOperations::removeItemNoThrow(url.path());
}
