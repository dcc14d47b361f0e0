#include "FileSystemEventStream.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "ConfinedTree.h"
#include "FileDescriptor.h"
#include "FolderAndName.h"
#include "OwnChanges.h"
#include "SystemLog.h"
#include "WatchedFolders.h"
#include "WatchedRoot.h"

namespace
{
constexpr std::uint32_t changeEvents = IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
constexpr std::uint32_t watchMask = changeEvents | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;
// What the folders above a root are watched for: a root's path names another folder (or none)
// after any of them, or the root, is renamed, removed or made.
constexpr std::uint32_t pathMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF | IN_DELETE_SELF
                                   | IN_ONLYDIR | IN_DONT_FOLLOW;
constexpr const char *maxUserWatchesFile = "/proc/sys/fs/inotify/max_user_watches";
// After the event queue overflowed, every watch is made afresh once the overflows stop for this
// long, and at the latest this long after the first of them.
constexpr std::chrono::milliseconds rebuildQuiet{200};
constexpr std::chrono::milliseconds rebuildAtLatest{2000};
// Names kept per folder, and in all, for the check against Tarnwick's own changes at the end
// of a batch; beyond them a folder simply counts as changed.
constexpr std::size_t namesPerFolder = 256;
constexpr std::size_t namesInAll = 65536;

std::string joined(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string parentOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// Whether the two paths name one folder, as a folder mounted twice does.
bool isSameFolder(const std::string &first, const std::string &second)
{
    struct stat firstStatus, secondStatus;
    return lstat(first.c_str(), &firstStatus) == 0 && lstat(second.c_str(), &secondStatus) == 0
           && firstStatus.st_dev == secondStatus.st_dev && firstStatus.st_ino == secondStatus.st_ino;
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
        m_rebuildTimer = std::make_unique<QTimer>();
        m_rebuildTimer->setSingleShot(true);
        QObject::connect(m_rebuildTimer.get(), &QTimer::timeout, m_rebuildTimer.get(), [this] { rebuild(); });
        // The folders above the roots have an instance of their own, so that their watches never
        // change those of the trees below them (one inode has one watch per instance).
        m_pathWatch.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (m_pathWatch.isValid()) {
            m_pathNotifier = std::make_unique<QSocketNotifier>(m_pathWatch.get(), QSocketNotifier::Read);
            QObject::connect(m_pathNotifier.get(), &QSocketNotifier::activated, m_pathNotifier.get(),
                             [this] { readPathEvents(); });
        }
        return true;
    }

    void setRootsChangedCallback(std::function<void()> callback) { m_rootsChanged = std::move(callback); }

    void setRoots(const std::vector<std::string> &roots, const std::vector<std::string> &excluded)
    {
        applyRoots(roots, excluded, false);
    }
    std::vector<std::string> roots() const
    {
        std::vector<std::string> paths;
        for (const auto &[path, identity] : m_roots)
            paths.push_back(path);
        return paths;
    }

    std::vector<WatchedRoot> displacedRoots() const
    {
        std::vector<WatchedRoot> roots;
        for (const auto &[path, displaced] : m_displaced)
            roots.push_back(WatchedRoot{path, displaced.identity});
        return roots;
    }

    std::vector<WatchedRoot> watchedRoots() const
    {
        std::vector<WatchedRoot> roots;
        for (const auto &[path, identity] : m_roots)
            roots.push_back(WatchedRoot{path, identity});
        return roots;
    }
    std::size_t watchCount() const { return m_folders.size(); }
    bool isStarted() const { return m_inotify.isValid(); }

private:
    // The roots are given as resolved paths (the mount table's, the settings records'): each is
    // opened without following a link on its way and known from then on by its device and inode.
    // A root that cannot be reached now is waited for: the folders above it are watched, and
    // when one of them changes on its way the roots are chosen again. A root whose folder moved
    // away from its path (by itself, or with a folder above it) is displaced: nothing at the
    // path is watched until that very folder is back there or is removed, so another folder put
    // in its place is never cleaned as the one kept clean. `rebuild` watches every folder afresh
    // and puts each into the batch.
    void applyRoots(const std::vector<std::string> &roots, const std::vector<std::string> &excluded, bool rebuild)
    {
        m_givenRoots = roots;
        m_givenExcluded = excluded;
        const std::map<std::string, FileIdentity> formerRoots = std::move(m_roots);
        const std::set<std::string> formerAwaited = std::move(m_awaited);
        m_roots.clear();
        m_awaited.clear();
        std::set<std::string> given;
        std::set<std::string> cameBack;
        for (const std::string &root : roots) {
            const std::string path(FolderAndName::trimmed(root));
            given.insert(path);
            const std::optional<WatchedRoot> found = WatchedRoot::at(path);
            const int error = errno;
            if (const auto displaced = m_displaced.find(path); displaced != m_displaced.end()) {
                if (!found || found->identity != displaced->second.identity)
                    continue;
                // Its own folder is back: watched afresh, and what it holds reported.
                dropWatch(displaced->second.wd, false);
                m_displaced.erase(displaced);
                cameBack.insert(path);
            } else if (const auto former = formerRoots.find(path);
                       former != formerRoots.end() && (!found || found->identity != former->second)
                       && m_folders.topAt(path) != WatchedFolders::none) {
                // The folder watched there is still about, elsewhere: its path names another now.
                displace(path, former->second);
                continue;
            }
            if (found) {
                m_roots.emplace(found->path, found->identity);
                if (formerAwaited.contains(path))
                    cameBack.insert(path);
            } else {
                m_awaited.insert(path);
                reportUnwatchable(path, error);
            }
        }
        for (auto displaced = m_displaced.begin(); displaced != m_displaced.end();) {
            if (given.contains(displaced->first)) {
                ++displaced;
                continue;
            }
            dropWatch(displaced->second.wd, true);
            displaced = m_displaced.erase(displaced);
        }
        std::set<std::string> newExcluded;
        for (const std::string &folder : excluded)
            newExcluded.emplace(FolderAndName::trimmed(folder));
        const bool exclusionsChanged = newExcluded != m_excluded;
        m_excluded = std::move(newExcluded);

        if (rebuild) {
            std::vector<int> every;
            m_folders.visitAll([&](int wd, std::size_t, const std::string &) {
                if (!isDisplacedWatch(wd))
                    every.push_back(wd);
            });
            for (auto wd = every.rbegin(); wd != every.rend(); ++wd)
                dropWatch(*wd, true);
        }
        for (const int wd : uncoveredFolders())
            dropWatch(wd, true);
        for (const auto &[root, identity] : m_roots) {
            // A root that was waited for, or whose folder came back, may hold anything by now:
            // its folders are reported as they are watched. One watched already (whose watch
            // did not go with an unmount) is left as it is, unless exclusions changed below it.
            const bool fresh = cameBack.contains(root);
            if (!rebuild && !fresh && !exclusionsChanged && formerRoots.contains(root)
                && m_folders.topAt(root) != WatchedFolders::none)
                continue;
            scan({WatchedFolders::none, root}, identity.device, rebuild || fresh, exclusionsChanged);
        }
        watchPathsOfRoots();
    }

    // The root's folder is kept by its own watch alone, to see it come back or go; the watches
    // below it go, and so do the changes noted in it.
    void displace(const std::string &root, const FileIdentity &identity)
    {
        const int top = m_folders.topAt(root);
        std::vector<int> below;
        m_folders.visit(top, [&](int wd, std::size_t depth, const std::string &) {
            if (depth > 0)
                below.push_back(wd);
        });
        for (auto wd = below.rbegin(); wd != below.rend(); ++wd)
            dropWatch(*wd, true);
        forget(top);
        m_displaced[root] = Displaced{identity, top};
    }

    bool isDisplacedWatch(int wd) const
    {
        return std::any_of(m_displaced.begin(), m_displaced.end(),
                           [wd](const auto &displaced) { return displaced.second.wd == wd; });
    }

    // A root that cannot be opened is said once, until it can be again; one that is simply not
    // there (a disk not mounted, a folder not made yet) is only waited for.
    void reportUnwatchable(const std::string &root, int error)
    {
        if (error == ENOENT || m_unwatchable.contains(root))
            return;
        m_unwatchable.insert(root);
        SystemLog::post("Tarnwick cannot watch " + root + " for changes: " + std::strerror(error));
    }

    // The folders from "/" down to each root's holder, watched for the names on the way; where
    // a component is missing or no folder (a link), its holder is the last one watched.
    void watchPathsOfRoots()
    {
        for (const auto &[path, identity] : m_roots)
            m_unwatchable.erase(path);
        if (!m_pathWatch.isValid())
            return;
        std::unordered_map<int, std::set<std::string>> names;
        for (const std::string &given : m_givenRoots) {
            const std::string_view root = FolderAndName::trimmed(given);
            if (!root.starts_with('/') || root == "/")
                continue;
            std::string holder = "/";
            std::size_t start = 1;
            while (start < root.size()) {
                const std::size_t slash = root.find('/', start);
                const std::string component(root.substr(start, slash == std::string_view::npos ? slash : slash - start));
                const int wd = inotify_add_watch(m_pathWatch.get(), holder.c_str(), pathMask);
                if (wd < 0)
                    break;
                names[wd].insert(component);
                if (slash == std::string_view::npos)
                    break;
                holder = joined(holder, component);
                struct stat status;
                if (lstat(holder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
                    break;
                start = slash + 1;
            }
        }
        for (const auto &[wd, watched] : m_pathNames) {
            if (!names.contains(wd))
                inotify_rm_watch(m_pathWatch.get(), wd);
        }
        m_pathNames = std::move(names);
    }

    void readPathEvents()
    {
        bool changed = false;
        readEventsOf(m_pathWatch.get(), [&](int wd, std::uint32_t mask, std::string_view name) {
            if (mask & IN_Q_OVERFLOW) {
                changed = true;
                return;
            }
            const auto watched = m_pathNames.find(wd);
            if (watched == m_pathNames.end())
                return;
            if (mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT))
                changed = true;
            else if (watched->second.contains(std::string(name)))
                changed = true;
        });
        if (changed)
            rootsMayHaveChanged();
    }

    // The owner chooses the roots again (the settings decide what is kept clean); without one,
    // the same roots are looked at again.
    void rootsMayHaveChanged()
    {
        if (m_rootsChanged) {
            m_rootsChanged();
            return;
        }
        if (m_reapplyPending)
            return;
        m_reapplyPending = true;
        QTimer::singleShot(0, m_timer.get(), [this] {
            m_reapplyPending = false;
            applyRoots(m_givenRoots, m_givenExcluded, false);
        });
    }

    void rebuild()
    {
        m_firstOverflowPending.reset();
        applyRoots(m_givenRoots, m_givenExcluded, true);
        if (m_rootsChanged)
            m_rootsChanged();
    }

    // What changed in one folder during the batch.
    struct FolderChange
    {
        // Changed whatever Tarnwick did itself.
        bool certain = false;
        // Item name → the events seen, to be checked against Tarnwick's own changes.
        std::unordered_map<std::string, std::uint32_t> names;
    };

    // A folder to be watched: its holder's watch and its name, or none and its full path.
    struct Pending
    {
        int holder;
        std::string name;
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

    bool isExcluded(const std::string &path) const { return m_excluded.contains(path) && !m_roots.contains(path); }

    // The watched folders that the roots and exclusions no longer cover, decided down each
    // tree from the folder above.
    std::vector<int> uncoveredFolders() const
    {
        std::vector<int> uncovered;
        std::vector<bool> coveredAtDepth;
        m_folders.visitAll([&](int wd, std::size_t depth, const std::string &path) {
            coveredAtDepth.resize(depth + 1);
            bool covered = depth == 0 ? isCovered(path) : coveredAtDepth[depth - 1];
            if (depth > 0 && m_roots.contains(path))
                covered = true;
            else if (depth > 0 && m_excluded.contains(path))
                covered = false;
            coveredAtDepth[depth] = covered;
            if (!covered && !isDisplacedWatch(wd))
                uncovered.push_back(wd);
        });
        return uncovered;
    }

    std::string pathOf(const Pending &folder) const
    {
        return folder.holder == WatchedFolders::none ? folder.name : joined(m_folders.path(folder.holder), folder.name);
    }

    // Watches the folder and everything below it on the same device, each folder watched before
    // it is listed. `report` puts every folder newly watched into the batch; `descendWatched`
    // also lists folders watched already, to find what was missed below them.
    void scan(Pending top, dev_t device, bool report, bool descendWatched)
    {
        std::vector<Pending> pending;
        pending.push_back(std::move(top));
        while (!pending.empty()) {
            const Pending next = std::move(pending.back());
            pending.pop_back();
            if (next.holder != WatchedFolders::none && !m_folders.contains(next.holder))
                continue;
            const std::string folder = pathOf(next);
            int wd = next.holder == WatchedFolders::none ? addRootWatch(folder)
                                                         : inotify_add_watch(m_inotify.get(), folder.c_str(), watchMask);
            if (wd >= 0 && m_folders.contains(wd)) {
                const std::string known = m_folders.path(wd);
                if (known == folder) {
                    if (!descendWatched)
                        continue;
                } else if (isSameFolder(known, folder)) {
                    // The same folder reached under another name is watched under its first one.
                    continue;
                } else {
                    // Moved here from where no watched holder saw it go (a root, or below a
                    // folder left out): watched afresh under its new name.
                    dropWatchesAtOrBelow(known, wd);
                    wd = inotify_add_watch(m_inotify.get(), folder.c_str(), watchMask);
                }
            }
            if (wd < 0) {
                if (errno == ENOSPC) {
                    reportWatchLimit();
                    return;
                }
                continue;
            }
            if (!m_folders.contains(wd)) {
                m_folders.add(wd, next.holder, next.name, device);
                if (report)
                    markCertain(wd);
            }
            listFolders(folder, wd, device, pending);
        }
    }

    // The root's watch goes on the folder opened as the root was resolved, not on whatever its
    // path leads to by the time the watch is added; a root found changed meanwhile is left to
    // the roots chosen again.
    int addRootWatch(const std::string &root)
    {
        const FileDescriptor folder = ConfinedTree::openResolvedPath(root, O_PATH | O_DIRECTORY);
        if (!folder.isValid())
            return -1;
        const auto known = m_roots.find(root);
        if (known != m_roots.end() && FileIdentity::of(folder.get()) != known->second) {
            rootsMayHaveChanged();
            errno = ESTALE;
            return -1;
        }
        const std::string byDescriptor = "/proc/self/fd/" + std::to_string(folder.get());
        const int wd = inotify_add_watch(m_inotify.get(), byDescriptor.c_str(), watchMask & ~IN_DONT_FOLLOW);
        if (wd >= 0 || errno != ENOENT)
            return wd;
        // Without /proc, by its path.
        return inotify_add_watch(m_inotify.get(), root.c_str(), watchMask);
    }

    void listFolders(const std::string &folder, int wd, dev_t device, std::vector<Pending> &found) const
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
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat status;
            if (fstatat(dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode)
                || status.st_dev != device)
                continue;
            if (!m_excluded.empty() && isExcluded(joined(folder, entry->d_name)))
                continue;
            found.push_back({wd, std::string(name)});
        }
        closedir(directory);
    }

    void reportWatchLimit()
    {
        if (m_watchLimitReported)
            return;
        m_watchLimitReported = true;
        SystemLog::post("Tarnwick cannot watch every folder for changes: the limit of inotify watches ("
                         + std::string(maxUserWatchesFile) + " = " + limitText()
                         + ") is reached. Folders beyond it are not cleaned in the background; raise the limit "
                           "to have them watched.");
    }

    void dropWatch(int wd, bool removeFromKernel)
    {
        if (!m_folders.contains(wd))
            return;
        if (removeFromKernel)
            inotify_rm_watch(m_inotify.get(), wd);
        m_folders.remove(wd);
        // A folder that is gone has nothing left to clean.
        forget(wd);
    }

    // A folder moved away or gone: its watch (when it has one) and every watch below its path.
    void dropWatchesAtOrBelow(const std::string &path, int wd)
    {
        std::vector<int> tops = m_folders.topsBelow(path);
        if (wd != WatchedFolders::none)
            tops.push_back(wd);
        for (const int top : tops) {
            std::vector<int> tree;
            m_folders.visit(top, [&tree](int folder, std::size_t, const std::string &) { tree.push_back(folder); });
            // The deepest first, so that no folder outlives the one that holds it.
            for (auto folder = tree.rbegin(); folder != tree.rend(); ++folder)
                dropWatch(*folder, true);
        }
    }

    void readEvents()
    {
        readEventsOf(m_inotify.get(), [this](int wd, std::uint32_t mask, std::string_view name) {
            handleEvent(wd, mask, name);
        });
    }

    // A bounded number of reads at a time: events that keep coming faster than they are taken
    // must not keep the thread from its timers (the batch, the rebuild after an overflow).
    template <typename Handler>
    static void readEventsOf(int instance, Handler &&handle)
    {
        alignas(inotify_event) char buffer[65536];
        for (int reads = 0; reads < 64; ++reads) {
            const ssize_t length = read(instance, buffer, sizeof buffer);
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
                handle(header.wd, header.mask, std::string_view(nameBytes, strnlen(nameBytes, header.len)));
                offset += size;
            }
        }
    }

    void handleEvent(int wd, std::uint32_t mask, std::string_view name)
    {
        if (mask & IN_Q_OVERFLOW) {
            overflowed();
            return;
        }
        if (!m_folders.contains(wd))
            return;
        const std::string root = m_folders.parent(wd) == WatchedFolders::none ? m_folders.path(wd) : std::string();
        if (const auto displaced = m_displaced.find(root);
            displaced != m_displaced.end() && displaced->second.wd == wd) {
            // A displaced root's folder removed: a folder made at its path is a new one to keep clean.
            if (mask & IN_IGNORED) {
                dropWatch(wd, false);
                m_displaced.erase(displaced);
                rootsMayHaveChanged();
            }
            return;
        }
        const bool isRoot = !root.empty() && m_roots.contains(root);
        if (mask & IN_IGNORED) {
            dropWatch(wd, false);
            // A root removed is waited for, and watched again when a folder is made at its path.
            if (isRoot) {
                m_roots.erase(root);
                m_awaited.insert(root);
                rootsMayHaveChanged();
            }
            return;
        }
        if (mask & IN_MOVE_SELF) {
            // A folder moved by its watched holder is handled there; a root moved away is
            // displaced, and any other top no longer where it was.
            if (isRoot) {
                displace(root, m_roots.at(root));
                m_roots.erase(root);
                rootsMayHaveChanged();
            } else if (!root.empty()) {
                dropWatchesAtOrBelow(root, wd);
            }
            return;
        }
        // The folder's own events: gone (IN_IGNORED follows) or its attributes, which its holder sees.
        if (name.empty())
            return;
        // A file's path is made only to ask about Tarnwick's own changes, and only while there are any.
        const std::uint32_t events = mask & changeEvents;
        const bool isFolder = mask & IN_ISDIR;
        const bool askOwnChanges = events != 0 && OwnChanges::mayAccountFor();
        const std::string item = isFolder || askOwnChanges ? joined(m_folders.path(wd), std::string(name)) : std::string();
        if (events != 0 && !(askOwnChanges && OwnChanges::accountFor(item, events)))
            noteChange(wd, name, events);
        if (isFolder) {
            if (mask & IN_MOVED_FROM)
                dropWatchesAtOrBelow(item, m_folders.childNamed(wd, name));
            if ((mask & (IN_CREATE | IN_MOVED_TO)) && !isExcluded(item))
                scan({wd, std::string(name)}, m_folders.device(wd), true, false);
        }
    }

    // Every folder watched goes into the batch, and what the lost events may have made is watched.
    void overflowed()
    {
        if (!m_overflowInBatch) {
            m_overflowInBatch = true;
            SystemLog::post("Tarnwick missed file-system events: the kernel's event queue overflowed "
                             "(/proc/sys/fs/inotify/max_queued_events). Every watched folder is cleaned once.");
        }
        std::vector<int> every;
        m_folders.visitAll([&every](int wd, std::size_t, const std::string &) { every.push_back(wd); });
        for (const int wd : every)
            markCertain(wd);
        // The lost events may have moved, made or removed any folder: once they stop, every
        // folder is watched afresh (and so cleaned once), what was watched before being no guide.
        const auto now = std::chrono::steady_clock::now();
        if (!m_firstOverflowPending)
            m_firstOverflowPending = now;
        const auto latest = *m_firstOverflowPending + rebuildAtLatest;
        const auto wait = std::min<std::chrono::steady_clock::duration>(rebuildQuiet, std::max(latest - now, {}));
        m_rebuildTimer->start(std::chrono::duration_cast<std::chrono::milliseconds>(wait));
    }

    FolderChange &changeOf(int wd)
    {
        const auto [entry, inserted] = m_batch.try_emplace(wd);
        if (inserted) {
            m_batchOrder.push_back(wd);
            if (!m_timer->isActive())
                m_timer->start(m_latency);
        }
        return entry->second;
    }

    void markCertain(int wd)
    {
        FolderChange &change = changeOf(wd);
        m_namesKept -= change.names.size();
        change.names.clear();
        change.certain = true;
    }

    void noteChange(int wd, std::string_view name, std::uint32_t events)
    {
        FolderChange &change = changeOf(wd);
        if (change.certain)
            return;
        const auto known = change.names.find(std::string(name));
        if (known != change.names.end()) {
            known->second |= events;
            return;
        }
        if (change.names.size() >= namesPerFolder || m_namesKept >= namesInAll) {
            markCertain(wd);
            return;
        }
        change.names.emplace(name, events);
        ++m_namesKept;
    }

    // Its place in the order stays behind and is passed over.
    void forget(int wd)
    {
        const auto found = m_batch.find(wd);
        if (found == m_batch.end())
            return;
        m_namesKept -= found->second.names.size();
        m_batch.erase(found);
    }

    // Own changes noted only after their events were read are recognised here. Paths are made
    // only now, for the folders that go into the batch.
    void deliverBatch()
    {
        std::vector<std::string> folders;
        for (const int wd : m_batchOrder) {
            const auto found = m_batch.find(wd);
            if (found == m_batch.end())
                continue;
            const FolderChange &change = found->second;
            const std::string folder = m_folders.path(wd);
            bool changed = change.certain;
            for (auto name = change.names.begin(); !changed && name != change.names.end(); ++name)
                changed = !OwnChanges::accountFor(joined(folder, name->first), name->second);
            if (changed)
                folders.push_back(folder);
            // A watch in the order twice goes into the batch once.
            m_batch.erase(found);
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
    std::map<std::string, FileIdentity> m_roots;
    std::set<std::string> m_excluded;
    std::vector<std::string> m_givenRoots;
    std::vector<std::string> m_givenExcluded;
    std::set<std::string> m_unwatchable;
    // Roots given that are not watched now: waited for.
    std::set<std::string> m_awaited;
    // Roots whose folder moved away from the path: its identity and its own watch.
    struct Displaced
    {
        FileIdentity identity;
        int wd;
    };
    std::map<std::string, Displaced> m_displaced;
    std::function<void()> m_rootsChanged;
    bool m_reapplyPending = false;
    // The folders above the roots: watch → the names on the way to a root.
    FileDescriptor m_pathWatch;
    std::unique_ptr<QSocketNotifier> m_pathNotifier;
    std::unordered_map<int, std::set<std::string>> m_pathNames;
    std::unique_ptr<QTimer> m_rebuildTimer;
    std::optional<std::chrono::steady_clock::time_point> m_firstOverflowPending;
    WatchedFolders m_folders;
    // Keyed by watch: a folder's path is made only when its batch is delivered.
    std::unordered_map<int, FolderChange> m_batch;
    std::vector<int> m_batchOrder;
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

std::vector<WatchedRoot> FileSystemEventStream::watchedRoots() const
{
    return m_watcher->watchedRoots();
}

std::vector<WatchedRoot> FileSystemEventStream::displacedRoots() const
{
    return m_watcher->displacedRoots();
}

void FileSystemEventStream::setRootsChangedCallback(std::function<void()> callback)
{
    m_watcher->setRootsChangedCallback(std::move(callback));
}

std::size_t FileSystemEventStream::watchedFolderCount() const
{
    return m_watcher->watchCount();
}
