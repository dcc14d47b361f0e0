#include "ScriptedVolumeFactsSource.h"

#include "FileSystemTypes.h"

ScriptedVolumeFactsSource::ScriptedVolumeFactsSource(const std::string &mountInfoText)
    : m_table(MountTable::parse(mountInfoText))
{
}

void ScriptedVolumeFactsSource::setStatfs(const std::string &mountPoint, StatfsResult result)
{
    m_statfs[mountPoint] = result;
}

void ScriptedVolumeFactsSource::setProbeAnswer(const std::string &mountPoint, bool hasNativeAttributes)
{
    m_probeAnswers[mountPoint] = hasNativeAttributes;
}

void ScriptedVolumeFactsSource::setMissing(const std::string &path)
{
    m_missing.insert(path);
}

bool ScriptedVolumeFactsSource::isMissing(const std::string &path) const
{
    for (const std::string &missing : m_missing) {
        if (pathHasComponentPrefix(path, missing))
            return true;
    }
    return false;
}

std::optional<VolumeFacts> ScriptedVolumeFactsSource::factsForPath(const std::string &path) const
{
    if (isMissing(path))
        return std::nullopt;
    const std::optional<MountEntry> mount = m_table.mountForPath(path);
    if (!mount)
        return std::nullopt;
    const auto statfs = m_statfs.find(mount->mountPoint);
    if (statfs == m_statfs.end())
        return std::nullopt;

    VolumeFacts facts;
    facts.mountPoint = mount->mountPoint;
    facts.kernelFileSystemType = mount->fileSystemType;
    facts.fileSystemType = FileSystemTypes::translate(mount->fileSystemType);
    facts.source = mount->source;
    facts.isLocal = !FileSystemTypes::isNetwork(mount->fileSystemType, mount->source);
    facts.isReadOnly = statfs->second.readOnly;
    facts.blockSize = statfs->second.blockSize;
    facts.blockCount = statfs->second.blockCount;
    facts.hasNativeExtendedAttributes = probeNativeExtendedAttributes(mount->mountPoint);
    facts.name = mount->mountPoint == "/" ? "/" : mount->mountPoint.substr(mount->mountPoint.rfind('/') + 1);
    facts.localizedName = facts.name;
    facts.isHidden = VolumeFacts::isHiddenMount(mount->mountPoint, mount->fileSystemType, facts.name);
    return facts;
}

bool ScriptedVolumeFactsSource::probeNativeExtendedAttributes(const std::string &mountPoint) const
{
    const auto answer = m_probeAnswers.find(mountPoint);
    return answer != m_probeAnswers.end() && answer->second;
}

VolumeLocation ScriptedVolumeFactsSource::locate(const std::string &path) const
{
    if (isMissing(path))
        return VolumesFolders::locateByName(path);
    const std::optional<MountEntry> mount = m_table.mountForPath(path);
    if (!mount)
        return VolumesFolders::locateByName(path);
    const std::string &mountPoint = mount->mountPoint;
    for (const std::string &folder : VolumesFolders::folders()) {
        if (mountPoint.size() > folder.size() && mountPoint.starts_with(folder)) {
            const std::size_t lastSlash = mountPoint.rfind('/');
            return VolumeLocation{mountPoint.substr(0, lastSlash + 1), mountPoint.substr(lastSlash + 1), mountPoint,
                                  false};
        }
    }
    return VolumeLocation{{}, "/", mountPoint, true};
}

ScopedVolumeFactsSource::ScopedVolumeFactsSource(std::shared_ptr<const VolumeFactsSource> source)
{
    VolumeFactsSource::setCurrentForTesting(std::move(source));
}

ScopedVolumeFactsSource::~ScopedVolumeFactsSource()
{
    VolumeFactsSource::setCurrentForTesting(nullptr);
}
