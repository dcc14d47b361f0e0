#include "VolumeList.h"

#include "MountTable.h"
#include "VolumeFacts.h"

std::vector<URL> VolumeList::buildRWVolumeURLList()
{
    return buildRWVolumeURLList(MountTable::current());
}

std::vector<URL> VolumeList::buildRWVolumeURLList(const MountTable &table)
{
    std::vector<URL> volumes;
    for (const MountEntry &mount : table.entries()) {
        const std::optional<VolumeFacts> facts = VolumeFacts::forMount(mount);
        const std::string name = facts ? facts->name : URL::fileURLWithPath(mount.mountPoint).lastPathComponent();
        if (VolumeFacts::isHiddenMount(mount.mountPoint, mount.fileSystemType, name))
            continue;
        const bool readOnly = facts ? facts->isReadOnly : mount.isReadOnly();
        if (!readOnly)
            volumes.push_back(URL::fileURLWithPath(mount.mountPoint));
    }
    return volumes;
}

std::vector<URL> VolumeList::localVolumeList()
{
    return buildRWVolumeURLList();
}
