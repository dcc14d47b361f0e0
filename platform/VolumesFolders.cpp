#include "VolumesFolders.h"

#include <algorithm>
#include <mutex>
#include <unistd.h>

#include "MountTable.h"
#include "PhysicalPath.h"
#include "XdgPaths.h"

namespace
{
std::mutex &registeredMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string> &registeredFolders()
{
    static std::vector<std::string> folders;
    return folders;
}

std::string withFinalSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

VolumeLocation startupDisk(std::string mountPoint)
{
    return VolumeLocation{{}, "/", std::move(mountPoint), true};
}
}

std::vector<std::string> VolumesFolders::folders()
{
    std::vector<std::string> result;
    // Looked up once: the password database is read from disk, and the walk asks per item.
    static const std::string user = XdgPaths::userName();
    if (!user.empty()) {
        result.push_back("/run/media/" + user + "/");
        result.push_back("/media/" + user + "/");
    }
    result.insert(result.end(), {"/media/", "/mnt/", "/Volumes/"});
    {
        std::lock_guard lock(registeredMutex());
        result.insert(result.end(), registeredFolders().begin(), registeredFolders().end());
    }
    // Of two folders that both begin a path, the longer lies inside the other.
    std::stable_sort(result.begin(), result.end(),
                     [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    return result;
}

void VolumesFolders::registerFolderForTesting(const std::string &folder)
{
    std::lock_guard lock(registeredMutex());
    registeredFolders().push_back(withFinalSlash(folder));
}

void VolumesFolders::unregisterFolderForTesting(const std::string &folder)
{
    std::lock_guard lock(registeredMutex());
    auto &folders = registeredFolders();
    folders.erase(std::remove(folders.begin(), folders.end(), withFinalSlash(folder)), folders.end());
}

VolumeLocation VolumesFolders::locate(const std::string &path)
{
    return locate(path, *MountTable::snapshot().table);
}

VolumeLocation VolumesFolders::locate(const std::string &path, const MountTable &table)
{
    const std::optional<std::string> resolved = physicalPath(path);
    if (!resolved)
        return locateByName(path);
    const std::optional<MountEntry> mount = table.mountForPath(*resolved);
    if (!mount)
        return locateByName(*resolved);

    const std::string &mountPoint = mount->mountPoint;
    for (const std::string &folder : folders()) {
        if (mountPoint.size() > folder.size() && mountPoint.compare(0, folder.size(), folder) == 0) {
            const std::size_t lastSlash = mountPoint.rfind('/');
            return VolumeLocation{mountPoint.substr(0, lastSlash + 1), mountPoint.substr(lastSlash + 1), mountPoint, false};
        }
    }
    return startupDisk(mountPoint);
}

VolumeLocation VolumesFolders::locateByName(const std::string &path)
{
    for (const std::string &folder : folders()) {
        if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0)
            continue;
        const std::size_t end = path.find('/', folder.size());
        const std::string name = path.substr(folder.size(), end == std::string::npos ? std::string::npos : end - folder.size());
        if (name.empty())
            continue;
        return VolumeLocation{folder, name, folder + name, false};
    }
    return startupDisk("/");
}
