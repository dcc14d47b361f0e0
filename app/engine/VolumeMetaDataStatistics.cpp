#include "VolumeMetaDataStatistics.h"

VolumeMetaDataStatistics::VolumeMetaDataStatistics(URL volumeURL)
    : m_volumeURL(std::move(volumeURL))
{
}

std::int64_t VolumeMetaDataStatistics::numberOfItemsDeleted() const
{
    std::lock_guard lock(m_mutex);
    return m_numberOfItemsDeleted;
}

void VolumeMetaDataStatistics::setNumberOfItemsDeleted(std::int64_t count)
{
    std::lock_guard lock(m_mutex);
    m_numberOfItemsDeleted = count;
}

std::optional<Date> VolumeMetaDataStatistics::lastCleaned() const
{
    std::lock_guard lock(m_mutex);
    return m_lastCleaned;
}

void VolumeMetaDataStatistics::setLastCleaned(std::optional<Date> date)
{
    std::lock_guard lock(m_mutex);
    m_lastCleaned = date;
}

std::string VolumeMetaDataStatistics::lastFolderCleanedName() const
{
    std::lock_guard lock(m_mutex);
    return m_lastFolderCleanedName;
}

void VolumeMetaDataStatistics::setLastFolderCleanedName(const std::string &name)
{
    std::lock_guard lock(m_mutex);
    m_lastFolderCleanedName = name;
}

std::int64_t VolumeMetaDataStatistics::numberOfDirectoriesEncountedInLastFullScan() const
{
    std::lock_guard lock(m_mutex);
    return m_numberOfDirectoriesEncountedInLastFullScan;
}

void VolumeMetaDataStatistics::setNumberOfDirectoriesEncountedInLastFullScan(std::int64_t count)
{
    std::lock_guard lock(m_mutex);
    m_numberOfDirectoriesEncountedInLastFullScan = count;
}

void VolumeMetaDataStatistics::update(const std::string &lastFolderCleanedName, std::int64_t count)
{
    std::lock_guard lock(m_mutex);
    m_numberOfItemsDeleted += count;
    m_lastFolderCleanedName = lastFolderCleanedName;
    m_lastCleaned = Date::now();
}

void VolumeMetaDataStatistics::updateDate()
{
    std::lock_guard lock(m_mutex);
    m_lastCleaned = Date::now();
}
