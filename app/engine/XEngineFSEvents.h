#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "NotificationCenter.h"

class QObject;
class QThread;
class FileSystemEventStream;

// Keeps disks and folders clean in the background. One thread with its own event loop holds
// the file-system event stream and the unmount approval: each batch of changed folders is
// cleaned, one level each, by a background engine on an operation queue of its own; a volume
// that Tarnwick is about to unmount is cleaned on this thread first, and the unmount then
// always goes ahead. The stream watches every writable volume and every folder whose settings
// record says always clean, and follows mounts, unmounts and changes of the settings.
class XEngineFSEvents
{
public:
    // The folders to watch, and the folders inside them that must not be cleaned.
    struct Roots
    {
        std::vector<std::string> watched;
        std::vector<std::string> excluded;
    };

    // The application's watcher; it is never stopped.
    static XEngineFSEvents &defaultWatcher();

    explicit XEngineFSEvents(std::chrono::milliseconds latency);
    // Stops the thread and waits for it.
    ~XEngineFSEvents();
    XEngineFSEvents(const XEngineFSEvents &) = delete;
    XEngineFSEvents &operator=(const XEngineFSEvents &) = delete;

    // Starts the thread, once.
    void makeThread();
    // The thread body: runs until the watcher goes (the application's, for the life of the process).
    void fsEventsAndDiskArbThreadEntry();

    // The roots the stream watches now (real paths).
    std::vector<std::string> watchedRoots() const;
    // From the mounted volumes and the settings records.
    static Roots chooseRoots();

private:
    void batchArrived(const std::vector<std::string> &paths);
    static void approveUnmount(const std::string &volumePath);
    // From any thread: the roots are chosen again on the watcher thread, once for a burst.
    void scheduleRootsUpdate();
    void updateRoots();

    // Lets a batch still cleaning ask for the roots again, unless the watcher has gone.
    struct Relay
    {
        std::mutex mutex;
        XEngineFSEvents *watcher = nullptr;
    };

    const std::chrono::milliseconds m_latency;
    const std::shared_ptr<Relay> m_relay;
    std::unique_ptr<QThread> m_thread;
    mutable std::mutex m_mutex;
    // Set while the thread runs its loop.
    QObject *m_context = nullptr;
    FileSystemEventStream *m_stream = nullptr;
    bool m_rootsUpdatePending = false;
    std::vector<std::string> m_watchedRoots;
    // Watcher thread: the roots said to be displaced.
    std::set<std::string> m_displacedRoots;
};
