#pragma once

#include <string>

#include "VolumeFacts.h"

// Facts about the volume that holds a path, read afresh by CFUGetVolumeInfo. The
// statInfo record plays the part of statfs: translated type name, mounted-from name,
// mount point, local and read-only flags, block size and block count.
class TWVolumeInfo
{
public:
    TWVolumeInfo() = default;

    const std::string &path() const { return m_path; }
    bool isServer() const { return m_isServer; }
    bool isMacDisk() const { return m_isMacDisk; }
    bool hasDecentRFSupport() const { return m_hasDecentRFSupport; }
    bool isRW() const { return m_isRW; }
    bool tarnwShouldIgnore() const { return m_tarnwShouldIgnore; }
    bool fsCheckIgnoreList() const { return m_fsCheckIgnoreList; }
    bool fsAlwaysTreatAsLocal() const { return m_fsAlwaysTreatAsLocal; }
    bool isAFPServer() const { return m_isAFPServer; }
    const VolumeFacts &statInfo() const { return m_statInfo; }

    std::string description() const;

private:
    friend int CFUGetVolumeInfo(const std::string &path, TWVolumeInfo *out);

    std::string m_path;
    bool m_isServer = false;
    bool m_isMacDisk = false;
    bool m_hasDecentRFSupport = false;
    bool m_isRW = false;
    bool m_tarnwShouldIgnore = false;
    bool m_fsCheckIgnoreList = false;
    bool m_fsAlwaysTreatAsLocal = false;
    bool m_isAFPServer = false;
    VolumeFacts m_statInfo;
};

// Fills *out with the facts of the volume holding path. 0 on success; -1 when out is null or
// the volume cannot be examined, in which case *out carries only the path.
int CFUGetVolumeInfo(const std::string &path, TWVolumeInfo *out);

// The per-disk key: the volume name followed by "-type-blocksize-blockcount"; the volume name
// alone when no facts can be had. It is stored data and ties records to physical disks.
std::string TWKeyForDisk(const std::string &path);

// The volume's name for display; without facts, the path less its volumes-folder prefix.
std::string TWVolumeDisplayName(const std::string &path);
// The path less its volumes-folder prefix when something follows the volume name's first letter.
std::string TWPathDisplayName(const std::string &path);

// Whether the volume of a filled record keeps extended attributes natively.
bool TWVolumeSupportsExtendedAttrsProperly(const VolumeFacts &statInfo);
