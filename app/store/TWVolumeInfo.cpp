#include "TWVolumeInfo.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "FileSystemTypes.h"
#include "VolumeFactsSource.h"

namespace
{
struct FileSystemTypeRow
{
    std::string_view name;
    bool alwaysTreatAsLocal;
};

// File systems that need no ignore-list check; FUSE and Parallels shares count as local.
constexpr std::array<FileSystemTypeRow, 4> kOSXFSTypes{{
    {"ntfs", false},
    {"fusefs", true},
    {"osxfusefs", true},
    {"prlufs", true},
}};

constexpr std::string_view expanDrivePrefix = "ExpanDrive";

std::string withoutVolumesPrefix(const std::string &path, const VolumeLocation &location)
{
    if (location.prefix.empty() || path.compare(0, location.prefix.size(), location.prefix) != 0)
        return path;
    return path.substr(location.prefix.size());
}
}

std::string TWVolumeInfo::description() const
{
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void *>(this));
    return std::string("Info cache obj ") + address + " for: " + m_path;
}

int CFUGetVolumeInfo(const std::string &path, TWVolumeInfo *out)
{
    if (!out)
        return -1;
    *out = TWVolumeInfo();
    out->m_path = path;
    out->m_statInfo.isLocal = false;

    const std::shared_ptr<const VolumeFactsSource> source = VolumeFactsSource::current();
    const std::optional<VolumeFacts> facts = source->factsForPath(path);
    if (!facts)
        return -1;
    out->m_statInfo = *facts;

    const std::string &type = facts->fileSystemType;
    out->m_fsCheckIgnoreList = true;
    out->m_fsAlwaysTreatAsLocal = false;
    for (const FileSystemTypeRow &row : kOSXFSTypes) {
        if (type == row.name) {
            out->m_fsCheckIgnoreList = false;
            out->m_fsAlwaysTreatAsLocal = row.alwaysTreatAsLocal;
            break;
        }
    }
    out->m_isMacDisk = FileSystemTypes::isMacDisk(type);
    out->m_isAFPServer = type == "afpfs";
    out->m_hasDecentRFSupport = TWVolumeSupportsExtendedAttrsProperly(*facts);
    out->m_tarnwShouldIgnore = facts->source.starts_with(expanDrivePrefix);
    out->m_isRW = !facts->isReadOnly;
    out->m_isServer = !(out->m_fsAlwaysTreatAsLocal || facts->isLocal);
    return 0;
}

std::string TWKeyForDisk(const std::string &path)
{
    const std::shared_ptr<const VolumeFactsSource> source = VolumeFactsSource::current();
    const std::string volumeName = source->locate(path).name;
    TWVolumeInfo info;
    if (CFUGetVolumeInfo(path, &info) != 0)
        return volumeName;
    const VolumeFacts &facts = info.statInfo();
    return volumeName + "-" + facts.fileSystemType + "-" + std::to_string(static_cast<std::uint64_t>(facts.blockSize))
           + "-" + std::to_string(static_cast<std::int64_t>(facts.blockCount));
}

std::string TWVolumeDisplayName(const std::string &path)
{
    const std::shared_ptr<const VolumeFactsSource> source = VolumeFactsSource::current();
    if (const std::optional<VolumeFacts> facts = source->factsForPath(path))
        return facts->name;
    return withoutVolumesPrefix(path, source->locate(path));
}

std::string TWPathDisplayName(const std::string &path)
{
    const VolumeLocation location = VolumeFactsSource::current()->locate(path);
    if (location.prefix.empty() || path.size() <= location.prefix.size() + 1)
        return path;
    return withoutVolumesPrefix(path, location);
}

bool TWVolumeSupportsExtendedAttrsProperly(const VolumeFacts &statInfo)
{
    if (statInfo.mountPoint.empty())
        return false;
    return VolumeFactsSource::current()->probeNativeExtendedAttributes(statInfo.mountPoint);
}
