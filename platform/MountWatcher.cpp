#include "MountWatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <optional>

#include "MainThread.h"
#include "MountTable.h"
#include "NotificationCenter.h"
#include "VolumeFacts.h"

namespace
{
std::string lastComponent(const std::string &mountPoint)
{
    if (mountPoint == "/")
        return mountPoint;
    return mountPoint.substr(mountPoint.rfind('/') + 1);
}

void postOnMain(const char *name, const std::string &mountPoint)
{
    MainThread::post([name, mountPoint] {
        NotificationCenter::workspaceCenter().post(name, nullptr,
                                                   Dictionary{{NotificationCenter::DevicePathKey, Value(mountPoint)}});
    });
}
}

MountWatcher::MountWatcher(std::shared_ptr<const MountInfoSource> source, std::chrono::milliseconds checkInterval)
    : m_source(std::move(source)), m_checkInterval(checkInterval)
{
}

MountWatcher::~MountWatcher()
{
    stop();
}

MountWatcher &MountWatcher::shared()
{
    static MountWatcher *watcher = new MountWatcher;
    return *watcher;
}

void MountWatcher::start()
{
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable())
        return;
    if (!m_source)
        m_source = MountTable::source();
    m_stopping = false;
    m_stopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // Opened before the first reading, so that a change made meanwhile is not missed.
    if (const auto *kernelTable = dynamic_cast<const ProcMountInfoSource *>(m_source.get()))
        m_tableWatch = ::open(kernelTable->path().c_str(), O_RDONLY | O_CLOEXEC);
    const std::uint64_t generation = m_source->generation();
    m_mounts = readMounts();
    m_thread = std::thread([this, generation] { run(generation); });
}

void MountWatcher::stop()
{
    std::lock_guard lock(m_mutex);
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    const std::uint64_t one = 1;
    while (m_stopEvent >= 0 && ::write(m_stopEvent, &one, sizeof one) < 0 && errno == EINTR) {
    }
    m_thread.join();
    if (m_stopEvent >= 0)
        ::close(m_stopEvent);
    m_stopEvent = -1;
    if (m_tableWatch >= 0)
        ::close(m_tableWatch);
    m_tableWatch = -1;
}

bool MountWatcher::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_thread.joinable();
}

MountWatcher::VisibleMounts MountWatcher::visibleMounts(const MountTable &table)
{
    VisibleMounts mounts;
    for (const MountEntry &entry : table.entries()) {
        // Whatever the label, a volume is judged by its place and type: after an unmount
        // only these are left to judge by.
        if (VolumeFacts::isHiddenMount(entry.mountPoint, entry.fileSystemType, lastComponent(entry.mountPoint)))
            continue;
        mounts.emplace(MountKey{entry.mountId, entry.major, entry.minor, entry.mountPoint}, entry.mountPoint);
    }
    return mounts;
}

MountWatcher::VisibleMounts MountWatcher::readMounts() const
{
    const std::optional<std::string> text = m_source->read();
    // An unreadable table is no reason to report every volume gone.
    if (!text)
        return m_mounts;
    return visibleMounts(MountTable::parse(*text));
}

void MountWatcher::run(std::uint64_t seenGeneration)
{
    const int timeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(m_checkInterval.count(), INT_MAX));
    while (!m_stopping.load()) {
        pollfd watched[2] = {{m_stopEvent, POLLIN, 0}, {m_tableWatch, POLLPRI, 0}};
        ::poll(watched, 2, timeout);
        if (m_stopping.load())
            return;
        // The kernel clears its flag for this descriptor as it reports it.
        const bool kernelSaysChanged = watched[1].revents & (POLLPRI | POLLERR);
        const std::uint64_t generation = m_source->generation();
        if (!kernelSaysChanged && generation == seenGeneration)
            continue;
        seenGeneration = generation;
        VisibleMounts now = readMounts();
        postChanges(m_mounts, now);
        m_mounts = std::move(now);
    }
}

void MountWatcher::postChanges(const VisibleMounts &before, const VisibleMounts &after) const
{
    // Gone first: a volume mounted again at the same place goes, then comes.
    for (const auto &[key, mountPoint] : before) {
        if (!after.contains(key))
            postOnMain(NotificationCenter::DidUnmountNotification, mountPoint);
    }
    for (const auto &[key, mountPoint] : after) {
        if (!before.contains(key))
            postOnMain(NotificationCenter::DidMountNotification, mountPoint);
    }
}
