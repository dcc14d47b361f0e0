#include "FileSystemEventStream.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "FileDescriptor.h"
#include "OwnChanges.h"
#include "PhysicalPath.h"
#include "SystemLog.h"

namespace
{
constexpr std::uint32_t changeEvents = IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
constexpr std::uint32_t watchMask = changeEvents | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;
constexpr const char *maxUserWatchesFile = "/proc/sys/fs/inotify/max_user_watches";
// Names kept per folder, and in all, for the check against Tarnwick's own changes at the end
// of a batch; beyond them a folder simply counts as changed.
constexpr std::size_t namesPerFolder = 256;
constexpr std::size_t namesInAll = 65536;

std::string joined(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool isAtOrBelow(const std::string &path, const std::string &folder)
{
    if (folder == "/")
        return true;
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string parentOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string limitText()
{
    std::ifstream file(maxUserWatchesFile);
    std::string value;
    file >> value;
    return value.empty() ? "unknown" : value;
}
}

class FileSystemEventStream::Watcher
{
public:
    Watcher(std::chrono::milliseconds latency, BatchCallback callback)
        : m_latency(latency), m_callback(std::move(callback))
    {
    }

    ~Watcher()
    {
        if (m_recording)
            OwnChanges::endRecording();
    }

    bool start()
    {
        m_inotify.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!m_inotify.isValid()) {
            SystemLog::write("Tarnwick cannot watch folders for changes: inotify is not available ("
                             + std::string(std::strerror(errno)) + ").");
            return false;
        }
        OwnChanges::beginRecording();
        m_recording = true;
        m_notifier = std::make_unique<QSocketNotifier>(m_inotify.get(), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readEvents(); });
        m_timer = std::make_unique<QTimer>();
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { deliverBatch(); });
        return true;
    }

    void setRoots(const std::vector<std::string> &roots, const std::vector<std::string> &excluded)
    {
        std::set<std::string> newRoots;
        for (const std::string &root : roots) {
            const std::optional<std::string> resolved = physicalPath(root);
            struct stat status;
            if (resolved && stat(resolved->c_str(), &status) == 0 && S_ISDIR(status.st_mode))
                newRoots.insert(*resolved);
        }
        std::set<std::string> newExcluded;
        for (const std::string &folder : excluded) {
            if (const std::optional<std::string> resolved = physicalPath(folder))
                newExcluded.insert(*resolved);
        }
        const std::set<std::string> formerRoots = std::move(m_roots);
        const bool exclusionsChanged = newExcluded != m_excluded;
        m_roots = std::move(newRoots);
        m_excluded = std::move(newExcluded);

        std::vector<int> uncovered;
        for (const auto &[wd, watch] : m_watches) {
            if (!isCovered(watch.path))
                uncovered.push_back(wd);
        }
        for (const int wd : uncovered)
            dropWatch(wd, true);
        for (const std::string &root : m_roots) {
            // A changed exclusion may uncover folders below roots already watched; a root whose
            // watch went (its volume was unmounted and mounted again) is watched afresh.
            if (!exclusionsChanged && formerRoots.contains(root) && m_wdOfPath.contains(root))
                continue;
            struct stat status;
            if (lstat(root.c_str(), &status) == 0)
                scan(root, status.st_dev, false, exclusionsChanged);
        }
    }

    std::vector<std::string> roots() const { return {m_roots.begin(), m_roots.end()}; }
    std::size_t watchCount() const { return m_watches.size(); }
    bool isStarted() const { return m_inotify.isValid(); }

private:
    struct Watch
    {
        std::string path;
        dev_t device;
    };

    // What changed in one folder during the batch.
    struct FolderChange
    {
        // Changed whatever Tarnwick did itself.
        bool certain = false;
        // Item name → the events seen, to be checked against Tarnwick's own changes.
        std::unordered_map<std::string, std::uint32_t> names;
    };

    // The nearest root or excluded folder above the path decides; a root wins a tie.
    bool isCovered(const std::string &path) const
    {
        for (std::string folder = path;; folder = parentOf(folder)) {
            if (m_roots.contains(folder))
                return true;
            if (m_excluded.contains(folder))
                return false;
            if (folder == "/")
                return false;
        }
    }

    // Watches the folder and everything below it on the same device, each folder watched before
    // it is listed. `report` puts every folder newly watched into the batch; `descendWatched`
    // also lists folders watched already, to find what was missed below them.
    void scan(const std::string &top, dev_t device, bool report, bool descendWatched)
    {
        std::vector<std::string> pending{top};
        while (!pending.empty()) {
            const std::string folder = std::move(pending.back());
            pending.pop_back();
            const int wd = inotify_add_watch(m_inotify.get(), folder.c_str(), watchMask);
            if (wd < 0) {
                if (errno == ENOSPC) {
                    reportWatchLimit();
                    return;
                }
                continue;
            }
            const auto existing = m_watches.find(wd);
            if (existing != m_watches.end()) {
                // The same folder reached under another name is watched under its first one.
                if (existing->second.path != folder || !descendWatched)
                    continue;
            } else {
                m_watches.emplace(wd, Watch{folder, device});
                m_wdOfPath[folder] = wd;
                if (report)
                    markCertain(folder);
            }
            listFolders(folder, device, pending);
        }
    }

    void listFolders(const std::string &folder, dev_t device, std::vector<std::string> &found) const
    {
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return;
        DIR *directory = fdopendir(fd);
        if (!directory) {
            close(fd);
            return;
        }
        while (const dirent *entry = readdir(directory)) {
            if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
                continue;
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat status;
            if (fstatat(dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode)
                || status.st_dev != device)
                continue;
            const std::string child = joined(folder, name);
            if (m_excluded.contains(child) && !m_roots.contains(child))
                continue;
            found.push_back(child);
        }
        closedir(directory);
    }

    void reportWatchLimit()
    {
        if (m_watchLimitReported)
            return;
        m_watchLimitReported = true;
        SystemLog::write("Tarnwick cannot watch every folder for changes: the limit of inotify watches ("
                         + std::string(maxUserWatchesFile) + " = " + limitText()
                         + ") is reached. Folders beyond it are not cleaned in the background; raise the limit "
                           "to have them watched.");
    }

    void dropWatch(int wd, bool removeFromKernel)
    {
        const auto found = m_watches.find(wd);
        if (found == m_watches.end())
            return;
        if (removeFromKernel)
            inotify_rm_watch(m_inotify.get(), wd);
        const std::string path = found->second.path;
        const auto byPath = m_wdOfPath.find(path);
        if (byPath != m_wdOfPath.end() && byPath->second == wd)
            m_wdOfPath.erase(byPath);
        m_watches.erase(found);
        // A folder that is gone has nothing left to clean.
        forget(path);
    }

    // A folder moved away or gone: its watches and those below it.
    void dropWatchesAtOrBelow(const std::string &path)
    {
        std::vector<int> below;
        for (const auto &[wd, watch] : m_watches) {
            if (isAtOrBelow(watch.path, path))
                below.push_back(wd);
        }
        for (const int wd : below)
            dropWatch(wd, true);
    }

    void readEvents()
    {
        alignas(inotify_event) char buffer[65536];
        for (;;) {
            const ssize_t length = read(m_inotify.get(), buffer, sizeof buffer);
            if (length <= 0) {
                if (length < 0 && errno == EINTR)
                    continue;
                return;
            }
            std::size_t offset = 0;
            while (offset + sizeof(inotify_event) <= static_cast<std::size_t>(length)) {
                inotify_event header;
                std::memcpy(&header, buffer + offset, sizeof header);
                const std::size_t size = sizeof(inotify_event) + header.len;
                if (offset + size > static_cast<std::size_t>(length))
                    break;
                const char *nameBytes = buffer + offset + sizeof(inotify_event);
                const std::string name(nameBytes, strnlen(nameBytes, header.len));
                handleEvent(header.wd, header.mask, name);
                offset += size;
            }
        }
    }

    void handleEvent(int wd, std::uint32_t mask, const std::string &name)
    {
        if (mask & IN_Q_OVERFLOW) {
            overflowed();
            return;
        }
        const auto found = m_watches.find(wd);
        if (found == m_watches.end())
            return;
        const Watch watch = found->second;
        if (mask & IN_IGNORED) {
            dropWatch(wd, false);
            return;
        }
        if (mask & IN_MOVE_SELF) {
            // A folder moved by its watched parent is handled there; a root moved away is no longer where it was.
            if (!m_wdOfPath.contains(parentOf(watch.path)))
                dropWatchesAtOrBelow(watch.path);
            return;
        }
        // The folder's own events: gone (IN_IGNORED follows) or its attributes, which its parent sees.
        if (name.empty())
            return;
        const std::string item = joined(watch.path, name);
        const std::uint32_t events = mask & changeEvents;
        if (events != 0 && !OwnChanges::accountFor(item, events))
            noteChange(watch.path, name, events);
        if (mask & IN_ISDIR) {
            if (mask & IN_MOVED_FROM)
                dropWatchesAtOrBelow(item);
            if ((mask & (IN_CREATE | IN_MOVED_TO)) && !(m_excluded.contains(item) && !m_roots.contains(item)))
                scan(item, watch.device, true, false);
        }
    }

    // Every folder watched goes into the batch, and what the lost events may have made is watched.
    void overflowed()
    {
        if (!m_overflowInBatch) {
            m_overflowInBatch = true;
            SystemLog::write("Tarnwick missed file-system events: the kernel's event queue overflowed "
                             "(/proc/sys/fs/inotify/max_queued_events). Every watched folder is cleaned once.");
        }
        std::vector<std::pair<std::string, dev_t>> folders;
        for (const auto &[wd, watch] : m_watches)
            folders.emplace_back(watch.path, watch.device);
        std::sort(folders.begin(), folders.end());
        for (const auto &folder : folders)
            markCertain(folder.first);
        for (const std::string &root : m_roots) {
            struct stat status;
            if (lstat(root.c_str(), &status) == 0)
                scan(root, status.st_dev, true, true);
        }
    }

    FolderChange &changeOf(const std::string &folder)
    {
        const auto [entry, inserted] = m_batch.try_emplace(folder);
        if (inserted) {
            m_batchOrder.push_back(folder);
            if (!m_timer->isActive())
                m_timer->start(m_latency);
        }
        return entry->second;
    }

    void markCertain(const std::string &folder)
    {
        FolderChange &change = changeOf(folder);
        m_namesKept -= change.names.size();
        change.names.clear();
        change.certain = true;
    }

    void noteChange(const std::string &folder, const std::string &name, std::uint32_t events)
    {
        FolderChange &change = changeOf(folder);
        if (change.certain)
            return;
        const auto known = change.names.find(name);
        if (known != change.names.end()) {
            known->second |= events;
            return;
        }
        if (change.names.size() >= namesPerFolder || m_namesKept >= namesInAll) {
            markCertain(folder);
            return;
        }
        change.names.emplace(name, events);
        ++m_namesKept;
    }

    void forget(const std::string &folder)
    {
        const auto found = m_batch.find(folder);
        if (found == m_batch.end())
            return;
        m_namesKept -= found->second.names.size();
        m_batch.erase(found);
        std::erase(m_batchOrder, folder);
    }

    // Own changes noted only after their events were read are recognised here.
    void deliverBatch()
    {
        std::vector<std::string> folders;
        for (const std::string &folder : m_batchOrder) {
            const FolderChange &change = m_batch.at(folder);
            bool changed = change.certain;
            for (auto name = change.names.begin(); !changed && name != change.names.end(); ++name)
                changed = !OwnChanges::accountFor(joined(folder, name->first), name->second);
            if (changed)
                folders.push_back(folder);
        }
        m_batch.clear();
        m_batchOrder.clear();
        m_namesKept = 0;
        m_overflowInBatch = false;
        if (!folders.empty())
            m_callback(folders);
    }

    const std::chrono::milliseconds m_latency;
    const BatchCallback m_callback;
    FileDescriptor m_inotify;
    bool m_recording = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<QTimer> m_timer;
    std::set<std::string> m_roots;
    std::set<std::string> m_excluded;
    std::unordered_map<int, Watch> m_watches;
    std::unordered_map<std::string, int> m_wdOfPath;
    std::unordered_map<std::string, FolderChange> m_batch;
    std::vector<std::string> m_batchOrder;
    std::size_t m_namesKept = 0;
    bool m_watchLimitReported = false;
    bool m_overflowInBatch = false;
};

FileSystemEventStream::FileSystemEventStream(std::chrono::milliseconds latency, BatchCallback callback)
    : m_watcher(std::make_unique<Watcher>(latency, std::move(callback)))
{
}

FileSystemEventStream::~FileSystemEventStream() = default;

bool FileSystemEventStream::start()
{
    return m_watcher->start();
}

void FileSystemEventStream::setRoots(const std::vector<std::string> &roots, const std::vector<std::string> &excluded)
{
    if (m_watcher->isStarted())
        m_watcher->setRoots(roots, excluded);
}

std::vector<std::string> FileSystemEventStream::roots() const
{
    return m_watcher->roots();
}

std::size_t FileSystemEventStream::watchedFolderCount() const
{
    return m_watcher->watchCount();
}
