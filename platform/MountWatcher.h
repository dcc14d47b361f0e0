#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

#include "TallowExport.h"

class MountInfoSource;
class MountTable;

// Watches the mount table on a thread of its own and tells the workspace notification centre,
// on the main thread, about every volume that appears (did-mount) or goes (did-unmount), with
// the mount point under "NSDevicePath". System and pseudo file systems are not volumes here.
class TALLOW_EXPORT MountWatcher
{
public:
    // A null source means the process-wide mount-table source at start(). The kernel's table
    // wakes the thread at once when it changes; every source is also looked at every checkInterval.
    explicit MountWatcher(std::shared_ptr<const MountInfoSource> source = nullptr,
                          std::chrono::milliseconds checkInterval = std::chrono::seconds(2));
    ~MountWatcher();
    MountWatcher(const MountWatcher &) = delete;
    MountWatcher &operator=(const MountWatcher &) = delete;

    // The application's watcher, started at start-up.
    static MountWatcher &shared();

    // Takes the current table as the starting point (nothing is posted for it) and starts
    // watching; does nothing when already started.
    void start();
    // Stops and joins the thread; notices already handed to the main thread are still posted.
    void stop();
    bool isRunning() const;

private:
    // A mount is the same mount while its id, device and place stay the same; a remount at the
    // same place is a new mount.
    using MountKey = std::tuple<int, unsigned, unsigned, std::string>;
    using VisibleMounts = std::map<MountKey, std::string>;

    static VisibleMounts visibleMounts(const MountTable &table);
    VisibleMounts readMounts() const;
    // From the source's generation at the time of the first reading.
    void run(std::uint64_t seenGeneration);
    void postChanges(const VisibleMounts &before, const VisibleMounts &after) const;

    std::shared_ptr<const MountInfoSource> m_source;
    const std::chrono::milliseconds m_checkInterval;
    mutable std::mutex m_mutex;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    // Wakes the thread when it must stop.
    int m_stopEvent = -1;
    // The kernel's table, opened for its change flag (POLLPRI); -1 for other sources.
    int m_tableWatch = -1;
    VisibleMounts m_mounts;
};
