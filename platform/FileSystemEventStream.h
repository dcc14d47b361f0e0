#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TallowExport.h"
#include "WatchedRoot.h"

// Reports the folders whose contents changed below a set of root folders, through inotify.
// Every folder below a root is watched, on the root's own file system, never through a
// symbolic link; folders that appear are watched first and then listed, so that nothing made
// in between is missed, and they are reported with every folder found in them. Events are
// gathered in batches: a batch closes a fixed latency after its first event, however many
// follow, and names each changed folder once, in the order of first change. Changes that
// Tarnwick made itself (OwnChanges) are left out. The stream lives on the thread that
// starts it, which must run a Qt event loop; batches are delivered there.
class TALLOW_EXPORT FileSystemEventStream
{
public:
    using BatchCallback = std::function<void(const std::vector<std::string> &folders)>;

    static constexpr std::chrono::milliseconds applicationLatency{6000};

    FileSystemEventStream(std::chrono::milliseconds latency, BatchCallback callback);
    // On the stream's thread.
    ~FileSystemEventStream();
    FileSystemEventStream(const FileSystemEventStream &) = delete;
    FileSystemEventStream &operator=(const FileSystemEventStream &) = delete;

    // Starts listening on the calling thread; false (with a system-log line) when the kernel
    // gives no inotify instance.
    bool start();
    // Replaces the folders watched: everything below the roots except below the excluded
    // folders (a root inside an excluded folder is watched all the same). Only changes from
    // now on are reported. The paths are resolved already: no link on a root's way is followed,
    // and each root is known by its device and inode from the moment it is watched. A root
    // that is not there now is waited for. On the stream's thread.
    void setRoots(const std::vector<std::string> &roots, const std::vector<std::string> &excluded = {});
    // Called on the stream's thread when a root's path may name another folder, or none, or one
    // again: a root or a folder on its way was moved, removed or made, or the events overflowed.
    // The owner then gives the roots again; without a callback the stream looks at the same
    // roots again itself.
    void setRootsChangedCallback(std::function<void()> callback);
    // The paths of the roots being watched.
    std::vector<std::string> roots() const;
    // The same with the identity each root was watched with.
    std::vector<WatchedRoot> watchedRoots() const;
    // The roots whose folder moved away from the path (by itself or with a folder above it),
    // with that folder's identity: nothing at the path is watched until that folder is back
    // there, or removed.
    std::vector<WatchedRoot> displacedRoots() const;
    std::size_t watchedFolderCount() const;

private:
    class Watcher;
    std::unique_ptr<Watcher> m_watcher;
};
