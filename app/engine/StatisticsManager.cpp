#include "StatisticsManager.h"

#include <algorithm>
#include <sys/stat.h>

#include "GCDAdditions.h"
#include "Logger.h"
#include "TWVolumeInfo.h"
#include "VolumeFactsSource.h"

namespace
{
// The root of the volume that holds the item itself (a symbolic link's own volume, not its target's).
std::optional<URL> volumeRootOf(const URL &item)
{
    std::string path = item.path();
    struct stat status;
    if (!path.empty() && lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode))
        path = item.deletingLastPathComponent().path();
    const std::optional<VolumeFacts> facts = VolumeFactsSource::current()->factsForPath(path);
    if (!facts || facts->mountPoint.empty())
        return std::nullopt;
    return URL::fileURLWithPath(facts->mountPoint);
}
}

std::optional<StatisticsManager::DeletionInformation> StatisticsManager::DeletionInformation::forItem(const URL &item)
{
    const std::optional<URL> volume = volumeRootOf(item);
    if (!volume)
        return std::nullopt;
    return DeletionInformation{*volume, item.deletingLastPathComponent().displayName()};
}

StatisticsManager &StatisticsManager::shared()
{
    static const std::shared_ptr<StatisticsManager> *instance = new std::shared_ptr<StatisticsManager>(create());
    return **instance;
}

std::shared_ptr<StatisticsManager> StatisticsManager::create()
{
    std::shared_ptr<StatisticsManager> manager(new StatisticsManager);
    manager->observeUnmounts();
    return manager;
}

StatisticsManager::StatisticsManager() = default;

StatisticsManager::~StatisticsManager()
{
    if (m_unmountObserver)
        NotificationCenter::workspaceCenter().removeObserver(m_unmountObserver);
}

void StatisticsManager::observeUnmounts()
{
    const std::weak_ptr<StatisticsManager> weakSelf = weak_from_this();
    m_unmountObserver = NotificationCenter::workspaceCenter().addObserver(
        NotificationCenter::DidUnmountNotification, nullptr, nullptr, [weakSelf](const Notification &notification) {
            if (const std::shared_ptr<StatisticsManager> self = weakSelf.lock())
                self->didUnmountNotification(notification);
        });
}

std::shared_ptr<VolumeMetaDataStatistics> StatisticsManager::volumeItemFor(const URL &url)
{
    // A volume's root already known needs no look at the file system: deletions name their
    // volume by its root, again and again.
    {
        std::lock_guard lock(m_mutex);
        for (const std::shared_ptr<VolumeMetaDataStatistics> &statistics : m_volumeMetaDataStatistics) {
            if (statistics->volumeURL() == url)
                return statistics;
        }
    }
    const std::optional<URL> root = volumeRootOf(url);
    if (!root)
        return nullptr;
    std::lock_guard lock(m_mutex);
    // An entry for the same root has the same key; keys are read only for other roots.
    std::optional<std::string> key;
    for (const std::shared_ptr<VolumeMetaDataStatistics> &statistics : m_volumeMetaDataStatistics) {
        if (statistics->volumeURL() == *root)
            return statistics;
        if (!key)
            key = TWKeyForDisk(root->path());
        if (TWKeyForDisk(statistics->volumeURL().path()) == *key)
            return statistics;
    }
    m_volumeMetaDataStatistics.push_back(std::make_shared<VolumeMetaDataStatistics>(*root));
    return m_volumeMetaDataStatistics.back();
}

std::vector<std::shared_ptr<VolumeMetaDataStatistics>> StatisticsManager::volumeMetaDataStatistics() const
{
    std::lock_guard lock(m_mutex);
    return m_volumeMetaDataStatistics;
}

void StatisticsManager::updateLastCleanDate(const URL &url)
{
    const std::weak_ptr<StatisticsManager> weakSelf = weak_from_this();
    GCDAdditions::onMain([weakSelf, url] {
        const std::shared_ptr<StatisticsManager> self = weakSelf.lock();
        if (!self)
            return;
        if (const std::shared_ptr<VolumeMetaDataStatistics> statistics = self->volumeItemFor(url)) {
            statistics->updateDate();
            self->scheduleUpdate();
        }
    });
}

void StatisticsManager::deletedItem(const std::optional<DeletionInformation> &information)
{
    if (information)
        deletedItems(std::vector<CountedDeletions>{CountedDeletions{*information, 1}});
}

void StatisticsManager::deletedItems(std::vector<DeletionInformation> informations)
{
    std::vector<CountedDeletions> deletions;
    deletions.reserve(informations.size());
    for (DeletionInformation &information : informations)
        deletions.push_back(CountedDeletions{std::move(information), 1});
    deletedItems(std::move(deletions));
}

// Deletions wait in one queue, in order, for one hop to the main thread that takes all of
// them: a walk that deletes in many folders while the main thread is busy makes few hops.
void StatisticsManager::deletedItems(std::vector<CountedDeletions> deletions)
{
    if (deletions.empty())
        return;
    {
        std::lock_guard lock(m_pendingMutex);
        for (CountedDeletions &deletion : deletions) {
            if (!m_pendingDeletions.empty() && m_pendingDeletions.back().information == deletion.information)
                m_pendingDeletions.back().count += deletion.count;
            else
                m_pendingDeletions.push_back(std::move(deletion));
        }
        if (m_deletionsHopPending)
            return;
        m_deletionsHopPending = true;
    }
    const std::weak_ptr<StatisticsManager> weakSelf = weak_from_this();
    GCDAdditions::onMain([weakSelf] {
        if (const std::shared_ptr<StatisticsManager> self = weakSelf.lock())
            self->countPendingDeletions();
    });
}

void StatisticsManager::countPendingDeletions()
{
    std::vector<CountedDeletions> deletions;
    {
        std::lock_guard lock(m_pendingMutex);
        deletions.swap(m_pendingDeletions);
        m_deletionsHopPending = false;
    }
    // The items of one batch mostly share a volume: it is looked up once.
    const URL *lastVolume = nullptr;
    std::shared_ptr<VolumeMetaDataStatistics> statistics;
    bool changed = false;
    for (const CountedDeletions &deletion : deletions) {
        const DeletionInformation &information = deletion.information;
        if (!lastVolume || !(*lastVolume == information.volume)) {
            statistics = volumeItemFor(information.volume);
            lastVolume = &information.volume;
        }
        if (statistics) {
            statistics->update(information.lastItemDeletedName, deletion.count);
            changed = true;
        }
    }
    if (changed)
        scheduleUpdate();
}

void StatisticsManager::scheduleUpdate()
{
    if (m_updateScheduled.exchange(true))
        return;
    const std::weak_ptr<StatisticsManager> weakSelf = weak_from_this();
    GCDAdditions::onMain([weakSelf] {
        if (const std::shared_ptr<StatisticsManager> self = weakSelf.lock())
            self->update();
    });
}

void StatisticsManager::update()
{
    m_updateScheduled = false;
    NotificationCenter::defaultCenter().post(updatedNotificationName);
}

void StatisticsManager::clearHistory()
{
    std::lock_guard lock(m_mutex);
    m_deletionStatisticsForURLS.clear();
}

bool StatisticsManager::hasBeenDeletedTooOften(const URL &url)
{
    bool tooOften = false;
    {
        std::lock_guard lock(m_mutex);
        const MonotonicClock::TimePoint current = now();
        std::erase_if(m_deletionStatisticsForURLS, [current](const auto &entry) {
            return std::chrono::abs(current - entry.second.lastDeletion) > requestChainGap;
        });
        auto [entry, created] = m_deletionStatisticsForURLS.try_emplace(url.path(), URLDeletionStatistics{url, current, 0});
        entry->second.lastDeletion = current;
        ++entry->second.numberOfDeletions;
        tooOften = entry->second.numberOfDeletions > requestsAllowedPerChain;
    }
    if (tooOften)
        Logger::shared().log("Too many requests to delete item. Will ignore:" + url.path());
    return tooOften;
}

void StatisticsManager::addToRecleanQueue(const URL &url)
{
    std::lock_guard lock(m_mutex);
    m_queuedReclean.push_back(url);
}

bool StatisticsManager::addToRecleanQueueIfAbsent(const URL &url)
{
    std::lock_guard lock(m_mutex);
    if (std::find(m_queuedReclean.begin(), m_queuedReclean.end(), url) != m_queuedReclean.end())
        return false;
    m_queuedReclean.push_back(url);
    return true;
}

void StatisticsManager::removeFromRecleanQueue(const URL &url)
{
    std::lock_guard lock(m_mutex);
    std::erase(m_queuedReclean, url);
}

bool StatisticsManager::isInRecleanQueue(const URL &url) const
{
    std::lock_guard lock(m_mutex);
    return std::find(m_queuedReclean.begin(), m_queuedReclean.end(), url) != m_queuedReclean.end();
}

std::vector<URL> StatisticsManager::queuedReclean() const
{
    std::lock_guard lock(m_mutex);
    return m_queuedReclean;
}

void StatisticsManager::didUnmountNotification(const Notification &notification)
{
    const auto devicePath = notification.userInfo.find(NotificationCenter::DevicePathKey);
    if (devicePath == notification.userInfo.end() || !devicePath->second.asString())
        return;
    const std::string key = TWKeyForDisk(*devicePath->second.asString());
    std::lock_guard lock(m_mutex);
    std::erase_if(m_volumeMetaDataStatistics, [&key](const std::shared_ptr<VolumeMetaDataStatistics> &statistics) {
        return TWKeyForDisk(statistics->volumeURL().path()) == key;
    });
}

void StatisticsManager::setClockForTesting(Clock clock)
{
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

MonotonicClock::TimePoint StatisticsManager::now() const
{
    return m_clock ? m_clock() : MonotonicClock::now();
}
