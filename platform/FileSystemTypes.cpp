#include "FileSystemTypes.h"

#include <QCoreApplication>

#include <array>
#include <blkid/blkid.h>
#include <fstream>
#include <unistd.h>
#include <utility>

#include "DeviceRoots.h"
#include "MountTable.h"

namespace
{
constexpr std::array<std::pair<std::string_view, std::string_view>, 16> translationTable{{
    {"vfat", "msdos"},
    {"msdos", "msdos"},
    {"fat", "msdos"},
    {"exfat", "exfat"},
    {"ntfs", "ntfs"},
    {"ntfs3", "ntfs"},
    {"hfsplus", "hfs"},
    {"hfs", "hfs"},
    {"apfs", "apfs"},
    {"cifs", "smbfs"},
    {"smb3", "smbfs"},
    {"nfs", "nfs"},
    {"nfs4", "nfs"},
    {"iso9660", "cd9660"},
    {"udf", "udf"},
    {"prl_fs", "prlufs"},
}};

constexpr std::array<std::string_view, 23> networkTypes{
    "cifs",      "smb3",        "smbfs",      "9p",           "ceph",          "afs",        "glusterfs", "fuse.glusterfs",
    "sshfs",     "fuse.sshfs",  "davfs",      "fuse.davfs2",  "fuse.rclone",   "fuse.s3fs",  "fuse.curlftpfs",
    "afpfs",     "fuse.afpfs",  "ncpfs",      "lustre",       "beegfs",        "gpfs",       "coda",      "fuse.gcsfuse",
};

constexpr std::array<std::string_view, 16> macDiskTypes{
    "hfs", "hfsx", "apfs", "ext2", "ext3", "ext4", "btrfs", "xfs",
    "f2fs", "zfs", "jfs", "reiserfs", "bcachefs", "nilfs2", "overlay", "tmpfs",
};

constexpr std::array<std::string_view, 21> pseudoTypes{
    "proc",    "sysfs",      "cgroup",  "cgroup2",   "devtmpfs", "devpts",      "debugfs",
    "tracefs", "securityfs", "bpf",     "configfs",  "mqueue",   "autofs",      "efivarfs",
    "pstore",  "binfmt_misc", "hugetlbfs", "fusectl", "nsfs",    "rpc_pipefs",  "squashfs",
};

constexpr std::array<std::pair<std::string_view, const char *>, 26> formatDescriptions{{
    {"msdos", QT_TRANSLATE_NOOP("FileSystemTypes", "MS-DOS (FAT)")},
    {"exfat", QT_TRANSLATE_NOOP("FileSystemTypes", "ExFAT")},
    {"ntfs", QT_TRANSLATE_NOOP("FileSystemTypes", "Windows NT File System (NTFS)")},
    {"hfs", QT_TRANSLATE_NOOP("FileSystemTypes", "Mac OS Extended")},
    {"hfsx", QT_TRANSLATE_NOOP("FileSystemTypes", "Mac OS Extended (Case-sensitive)")},
    {"apfs", QT_TRANSLATE_NOOP("FileSystemTypes", "APFS")},
    {"smbfs", QT_TRANSLATE_NOOP("FileSystemTypes", "SMB")},
    {"nfs", QT_TRANSLATE_NOOP("FileSystemTypes", "NFS")},
    {"cd9660", QT_TRANSLATE_NOOP("FileSystemTypes", "ISO 9660")},
    {"udf", QT_TRANSLATE_NOOP("FileSystemTypes", "Universal Disk Format (UDF)")},
    {"fusefs", QT_TRANSLATE_NOOP("FileSystemTypes", "FUSE")},
    {"prlufs", QT_TRANSLATE_NOOP("FileSystemTypes", "Parallels Shared Folders")},
    {"ext2", QT_TRANSLATE_NOOP("FileSystemTypes", "ext2")},
    {"ext3", QT_TRANSLATE_NOOP("FileSystemTypes", "ext3")},
    {"ext4", QT_TRANSLATE_NOOP("FileSystemTypes", "ext4")},
    {"btrfs", QT_TRANSLATE_NOOP("FileSystemTypes", "Btrfs")},
    {"xfs", QT_TRANSLATE_NOOP("FileSystemTypes", "XFS")},
    {"f2fs", QT_TRANSLATE_NOOP("FileSystemTypes", "F2FS")},
    {"zfs", QT_TRANSLATE_NOOP("FileSystemTypes", "ZFS")},
    {"jfs", QT_TRANSLATE_NOOP("FileSystemTypes", "JFS")},
    {"reiserfs", QT_TRANSLATE_NOOP("FileSystemTypes", "ReiserFS")},
    {"bcachefs", QT_TRANSLATE_NOOP("FileSystemTypes", "bcachefs")},
    {"nilfs2", QT_TRANSLATE_NOOP("FileSystemTypes", "NILFS2")},
    {"overlay", QT_TRANSLATE_NOOP("FileSystemTypes", "Overlay")},
    {"tmpfs", QT_TRANSLATE_NOOP("FileSystemTypes", "Memory (tmpfs)")},
    {"ramfs", QT_TRANSLATE_NOOP("FileSystemTypes", "Memory (ramfs)")},
}};

template<typename Table>
bool contains(const Table &table, std::string_view name)
{
    for (const std::string_view entry : table) {
        if (entry == name)
            return true;
    }
    return false;
}

bool isFuseBlock(std::string_view linuxType)
{
    return linuxType == "fuseblk" || linuxType.substr(0, 8) == "fuseblk.";
}

std::optional<std::string> udevFileSystemType(unsigned major, unsigned minor)
{
    const std::string path = DeviceRoots::udevRoot() + "/data/b" + std::to_string(major) + ":" + std::to_string(minor);
    std::ifstream in(path);
    std::string line;
    constexpr std::string_view key = "E:ID_FS_TYPE=";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0 && line.size() > key.size())
            return line.substr(key.size());
    }
    return std::nullopt;
}

std::optional<std::string> probedFileSystemType(const std::string &deviceNode)
{
    if (deviceNode.empty() || access(deviceNode.c_str(), R_OK) != 0)
        return std::nullopt;
    blkid_probe probe = blkid_new_probe_from_filename(deviceNode.c_str());
    if (!probe)
        return std::nullopt;
    std::optional<std::string> type;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE);
    const char *value = nullptr;
    if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0 && value)
        type = value;
    blkid_free_probe(probe);
    return type;
}
}

std::string FileSystemTypes::translate(std::string_view linuxType)
{
    for (const auto &[linuxName, macName] : translationTable) {
        if (linuxName == linuxType)
            return std::string(macName);
    }
    if (linuxType == "fuse" || linuxType.substr(0, 5) == "fuse." || isFuseBlock(linuxType))
        return "fusefs";
    return std::string(linuxType);
}

std::string FileSystemTypes::translate(const MountEntry &mount)
{
    if (!isFuseBlock(mount.fileSystemType))
        return translate(mount.fileSystemType);
    const std::string deviceNode = mount.source.rfind("/dev/", 0) == 0
        ? DeviceRoots::mapDevicePath(mount.source)
        : DeviceRoots::devRoot() + "/block/" + std::to_string(mount.major) + ":" + std::to_string(mount.minor);
    const std::optional<std::string> deviceType = blockDeviceType(mount.major, mount.minor, deviceNode);
    // A device that names itself fuseblk again tells nothing new.
    if (!deviceType || isFuseBlock(*deviceType))
        return "fusefs";
    return translate(*deviceType);
}

std::optional<std::string> FileSystemTypes::blockDeviceType(unsigned major, unsigned minor, const std::string &deviceNode)
{
    if (auto type = udevFileSystemType(major, minor))
        return type;
    return probedFileSystemType(deviceNode);
}

bool FileSystemTypes::isNetwork(std::string_view linuxType, std::string_view source)
{
    if (contains(networkTypes, linuxType))
        return true;
    if (linuxType.substr(0, 3) == "nfs" && linuxType != "nfsd")
        return true;
    if (source.substr(0, 2) == "//")
        return true;
    return !source.empty() && source.front() != '/' && source.find(":/") != std::string_view::npos;
}

bool FileSystemTypes::isMacDisk(std::string_view translatedType)
{
    return contains(macDiskTypes, translatedType);
}

bool FileSystemTypes::isPseudo(std::string_view linuxType)
{
    return contains(pseudoTypes, linuxType);
}

std::string FileSystemTypes::localizedFormatDescription(std::string_view translatedType)
{
    for (const auto &[name, description] : formatDescriptions) {
        if (name == translatedType)
            return QCoreApplication::translate("FileSystemTypes", description).toStdString();
    }
    return std::string(translatedType);
}
