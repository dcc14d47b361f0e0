#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MonotonicClock.h"
#include "NotificationCenter.h"
#include "URL.h"
#include "VolumeMetaDataStatistics.h"

// In-memory statistics of what the engine deleted, per mounted volume, and the short
// per-path history that stops the engine deleting an item that keeps coming back.
// The volume list, the history and the re-clean queue are read and changed under one
// lock, so cleaning threads may use them; the statistics shown in windows change on the
// main thread, and "StatisticsManagerUpdated" is posted there, once for every change made
// before the post runs.
class StatisticsManager : public std::enable_shared_from_this<StatisticsManager>
{
public:
    using Clock = std::function<MonotonicClock::TimePoint()>;

    static constexpr const char *updatedNotificationName = "StatisticsManagerUpdated";
    // Requests for one path within this many seconds of each other form one chain.
    static constexpr std::chrono::seconds requestChainGap{60};
    // The requests of a chain that are let through.
    static constexpr std::int64_t requestsAllowedPerChain = 10;

    // Where a deleted item was: its volume and the name of the folder that held it.
    struct DeletionInformation
    {
        URL volume;
        std::string lastItemDeletedName;

        // Built before the item goes; nothing when the item has no volume.
        static std::optional<DeletionInformation> forItem(const URL &item);
        bool operator==(const DeletionInformation &) const = default;
    };

    // Deletions of items in one folder: a folder's clean may delete a great many.
    struct CountedDeletions
    {
        DeletionInformation information;
        std::int64_t count = 1;
    };

    // The request history of one path. Ages are measured on the monotonic clock, so that
    // a step of the wall clock neither breaks a chain nor joins two.
    struct URLDeletionStatistics
    {
        URL url;
        MonotonicClock::TimePoint lastDeletion;
        std::int64_t numberOfDeletions = 0;
    };

    // The process's instance, made on first use and never destroyed.
    static StatisticsManager &shared();
    // A separate instance with empty statistics that observes unmounts as the shared one does.
    static std::shared_ptr<StatisticsManager> create();

    ~StatisticsManager();
    StatisticsManager(const StatisticsManager &) = delete;
    StatisticsManager &operator=(const StatisticsManager &) = delete;

    // Finds, or makes and appends, the statistics of the URL's volume; nothing when it has none.
    std::shared_ptr<VolumeMetaDataStatistics> volumeItemFor(const URL &url);
    // The volumes' statistics in order of creation.
    std::vector<std::shared_ptr<VolumeMetaDataStatistics>> volumeMetaDataStatistics() const;

    // On the main thread: the volume was cleaned now.
    void updateLastCleanDate(const URL &url);
    // On the main thread: one item deleted; no information, no change.
    void deletedItem(const std::optional<DeletionInformation> &information);
    // On the main thread, in one hop: each item deleted, in order.
    void deletedItems(std::vector<DeletionInformation> informations);
    void deletedItems(std::vector<CountedDeletions> deletions);

    // Posts "StatisticsManagerUpdated" on the main thread unless a post is already pending.
    void scheduleUpdate();
    // Posts at once on the calling thread.
    void update();
    bool updateScheduled() const { return m_updateScheduled.load(); }

    void clearHistory();
    // Counts one request for the path; true (with a log line) from the eleventh request of a chain.
    bool hasBeenDeletedTooOften(const URL &url);

    void addToRecleanQueue(const URL &url);
    // Appends the URL unless an equal one is queued; true when it was appended.
    bool addToRecleanQueueIfAbsent(const URL &url);
    // Removes every equal URL.
    void removeFromRecleanQueue(const URL &url);
    bool isInRecleanQueue(const URL &url) const;
    std::vector<URL> queuedReclean() const;

    // Drops the statistics of the volume named by the notification's "NSDevicePath".
    void didUnmountNotification(const Notification &notification);

    // Replaces the clock of the request history; empty restores the monotonic clock.
    void setClockForTesting(Clock clock);

private:
    StatisticsManager();
    void observeUnmounts();
    MonotonicClock::TimePoint now() const;
    // On the main thread: counts the deletions waiting for it.
    void countPendingDeletions();

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<VolumeMetaDataStatistics>> m_volumeMetaDataStatistics;
    std::map<std::string, URLDeletionStatistics> m_deletionStatisticsForURLS;
    std::vector<URL> m_queuedReclean;
    std::atomic<bool> m_updateScheduled{false};
    std::mutex m_pendingMutex;
    std::vector<CountedDeletions> m_pendingDeletions;
    bool m_deletionsHopPending = false;
    Clock m_clock;
    NotificationCenter::ObserverToken m_unmountObserver;
};
