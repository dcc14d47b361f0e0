#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "URL.h"
#include "Value.h"

// What the engine did on one volume since the volume was first seen. The main thread
// changes the counts; a walking thread may set the directory count of its last full walk,
// so every member is read and written under the object's own lock.
class VolumeMetaDataStatistics
{
public:
    explicit VolumeMetaDataStatistics(URL volumeURL);
    VolumeMetaDataStatistics(const VolumeMetaDataStatistics &) = delete;
    VolumeMetaDataStatistics &operator=(const VolumeMetaDataStatistics &) = delete;

    const URL &volumeURL() const { return m_volumeURL; }

    std::int64_t numberOfItemsDeleted() const;
    void setNumberOfItemsDeleted(std::int64_t count);
    std::optional<Date> lastCleaned() const;
    void setLastCleaned(std::optional<Date> date);
    std::string lastFolderCleanedName() const;
    void setLastFolderCleanedName(const std::string &name);
    std::int64_t numberOfDirectoriesEncountedInLastFullScan() const;
    void setNumberOfDirectoriesEncountedInLastFullScan(std::int64_t count);

    // One more item (or `count` more) deleted, in the named folder, now.
    void update(const std::string &lastFolderCleanedName, std::int64_t count = 1);
    void updateDate();

private:
    const URL m_volumeURL;
    mutable std::mutex m_mutex;
    std::int64_t m_numberOfItemsDeleted = 0;
    std::optional<Date> m_lastCleaned;
    std::string m_lastFolderCleanedName;
    std::int64_t m_numberOfDirectoriesEncountedInLastFullScan = 0;
};
