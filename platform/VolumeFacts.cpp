#include "VolumeFacts.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include "DeviceRoots.h"
#include "FileSystemTypes.h"
#include "MountTable.h"

namespace
{
std::optional<std::string> resolvedPath(const std::string &path)
{
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return std::nullopt;
    return std::string(resolved);
}

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

std::optional<VolumeFacts> factsFor(const MountEntry &mount, const std::string &statPath)
{
    struct statvfs status;
    if (statvfs(statPath.c_str(), &status) != 0)
        return std::nullopt;

    VolumeFacts facts;
    facts.mountPoint = mount.mountPoint;
    facts.fileSystemType = FileSystemTypes::translate(mount);
    facts.kernelFileSystemType = mount.fileSystemType;
    facts.source = mount.source;
    facts.isLocal = !FileSystemTypes::isNetwork(mount.fileSystemType, mount.source);
    facts.isReadOnly = (status.f_flag & ST_RDONLY) != 0;
    facts.blockSize = static_cast<std::uint32_t>(status.f_frsize);
    facts.blockCount = status.f_blocks;
    facts.hasNativeExtendedAttributes = VolumeFacts::probeNativeExtendedAttributes(mount.mountPoint);
    facts.name = VolumeFacts::labelForSource(mount.source).value_or(lastComponent(mount.mountPoint));
    facts.localizedName = facts.name;
    facts.isHidden = VolumeFacts::isHiddenMount(mount.mountPoint, mount.fileSystemType, facts.name);
    facts.localizedFormatDescription = FileSystemTypes::localizedFormatDescription(facts.fileSystemType);
    return facts;
}
}

std::optional<VolumeFacts> VolumeFacts::forPath(const std::string &path)
{
    const std::optional<std::string> resolved = resolvedPath(path);
    if (!resolved)
        return std::nullopt;
    const std::optional<MountEntry> mount = MountTable::current().mountForPath(*resolved);
    if (!mount)
        return std::nullopt;
    return factsFor(*mount, *resolved);
}

std::optional<VolumeFacts> VolumeFacts::forMount(const MountEntry &mount)
{
    return factsFor(mount, mount.mountPoint);
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
    const std::optional<std::string> device = resolvedPath(DeviceRoots::mapDevicePath(source));
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
        if (resolvedPath(folder + "/" + name) == device) {
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
