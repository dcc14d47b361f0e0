#include "VolumeFacts.h"

#include <cerrno>
#include <dirent.h>
#include <map>
#include <mutex>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include "DeviceRoots.h"
#include "FileSystemTypes.h"
#include "MountTable.h"
#include "PhysicalPath.h"

namespace
{
int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// udev writes unsafe bytes of a label as \xHH.
std::string decodeUdevName(const std::string &name)
{
    std::string result;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            const int high = hexDigit(name[i + 2]);
            const int low = hexDigit(name[i + 3]);
            if (high >= 0 && low >= 0) {
                result.push_back(static_cast<char>(high * 16 + low));
                i += 3;
                continue;
            }
        }
        result.push_back(name[i]);
    }
    return result;
}

std::string lastComponent(const std::string &mountPoint)
{
    if (mountPoint == "/")
        return "/";
    return mountPoint.substr(mountPoint.rfind('/') + 1);
}

// The facts that follow from the mount alone: its types, label, attribute support and
// visibility. Reading them means the device folders, udev's data and a probe of the mount
// point, so they are kept per mount for as long as the mount table and the device folders
// stay the same; a walk then reads them once per volume, not once per deleted item.
class MountFactsCache
{
public:
    VolumeFacts factsOf(const MountEntry &mount, std::uint64_t stamp)
    {
        const std::string devRoot = DeviceRoots::devRoot();
        const std::string udevRoot = DeviceRoots::udevRoot();
        {
            std::lock_guard lock(m_mutex);
            if (stamp != m_stamp || devRoot != m_devRoot || udevRoot != m_udevRoot) {
                m_facts.clear();
                m_stamp = stamp;
                m_devRoot = devRoot;
                m_udevRoot = udevRoot;
            }
            const auto known = m_facts.find(mount.mountId);
            if (known != m_facts.end() && known->second.first == mount)
                return known->second.second;
        }
        const VolumeFacts facts = read(mount);
        std::lock_guard lock(m_mutex);
        if (stamp == m_stamp && devRoot == m_devRoot && udevRoot == m_udevRoot)
            m_facts.insert_or_assign(mount.mountId, std::pair(mount, facts));
        return facts;
    }

private:
    static VolumeFacts read(const MountEntry &mount)
    {
        VolumeFacts facts;
        facts.mountPoint = mount.mountPoint;
        facts.fileSystemType = FileSystemTypes::translate(mount);
        facts.kernelFileSystemType = mount.fileSystemType;
        facts.source = mount.source;
        facts.isLocal = !FileSystemTypes::isNetwork(mount.fileSystemType, mount.source);
        facts.hasNativeExtendedAttributes = VolumeFacts::probeNativeExtendedAttributes(mount.mountPoint);
        facts.name = VolumeFacts::labelForSource(mount.source).value_or(lastComponent(mount.mountPoint));
        facts.localizedName = facts.name;
        facts.isHidden = VolumeFacts::isHiddenMount(mount.mountPoint, mount.fileSystemType, facts.name);
        facts.localizedFormatDescription = FileSystemTypes::localizedFormatDescription(facts.fileSystemType);
        return facts;
    }

    std::mutex m_mutex;
    std::uint64_t m_stamp = 0;
    std::string m_devRoot;
    std::string m_udevRoot;
    std::map<int, std::pair<MountEntry, VolumeFacts>> m_facts;
};

MountFactsCache &mountFactsCache()
{
    static MountFactsCache *cache = new MountFactsCache;
    return *cache;
}

// Read-only state and size are read afresh every time: either may change under a mount.
std::optional<VolumeFacts> factsFor(const MountEntry &mount, const std::string &statPath, std::uint64_t stamp)
{
    struct statvfs status;
    if (statvfs(statPath.c_str(), &status) != 0)
        return std::nullopt;
    VolumeFacts facts = mountFactsCache().factsOf(mount, stamp);
    facts.isReadOnly = (status.f_flag & ST_RDONLY) != 0;
    facts.blockSize = static_cast<std::uint32_t>(status.f_frsize);
    facts.blockCount = status.f_blocks;
    return facts;
}
}

std::optional<VolumeFacts> VolumeFacts::forPath(const std::string &path)
{
    const std::optional<std::string> resolved = physicalPath(path);
    if (!resolved)
        return std::nullopt;
    const MountTable::Snapshot mounts = MountTable::snapshot();
    const std::optional<MountEntry> mount = mounts.table->mountForPath(*resolved);
    if (!mount)
        return std::nullopt;
    return factsFor(*mount, *resolved, mounts.stamp);
}

std::optional<VolumeFacts> VolumeFacts::forMount(const MountEntry &mount)
{
    return factsFor(mount, mount.mountPoint, MountTable::snapshot().stamp);
}

bool VolumeFacts::probeNativeExtendedAttributes(const std::string &folder)
{
    // Reading an attribute nobody sets: only "not supported" says the file system keeps none;
    // "no such attribute", or a refusal to read, proves that it keeps them.
    if (lgetxattr(folder.c_str(), "user.org.tarnwick.probe", nullptr, 0) >= 0)
        return true;
    return errno != ENOTSUP;
}

std::optional<std::string> VolumeFacts::labelForSource(const std::string &source)
{
    if (source.rfind("/dev/", 0) != 0)
        return std::nullopt;
    const std::optional<std::string> device = physicalPath(DeviceRoots::mapDevicePath(source));
    if (!device)
        return std::nullopt;
    const std::string folder = DeviceRoots::devRoot() + "/disk/by-label";
    DIR *directory = opendir(folder.c_str());
    if (!directory)
        return std::nullopt;
    std::optional<std::string> label;
    while (const dirent *entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (physicalPath(folder + "/" + name) == device) {
            label = decodeUdevName(name);
            break;
        }
    }
    closedir(directory);
    return label;
}

bool VolumeFacts::isHiddenMount(const std::string &mountPoint, const std::string &kernelType, const std::string &name)
{
    if (!name.empty() && name.front() == '.')
        return true;
    if (FileSystemTypes::isPseudo(kernelType))
        return true;
    for (const char *systemFolder : {"/proc", "/sys", "/dev", "/snap", "/boot", "/efi"}) {
        if (pathHasComponentPrefix(mountPoint, systemFolder))
            return true;
    }
    return pathHasComponentPrefix(mountPoint, "/run") && !pathHasComponentPrefix(mountPoint, "/run/media");
}
