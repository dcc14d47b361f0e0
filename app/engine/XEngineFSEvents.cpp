#include "XEngineFSEvents.h"

#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <sys/stat.h>

#include "DiscRecordingWatcher.h"
#include "FileSystemEventStream.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "VolumeList.h"
#include "VolumeUnmounter.h"
#include "XEngine.h"
#include "XProgressProtocol.h"
#include "XTWStore.h"

namespace
{
bool simulationDefault()
{
    return PreferencesSupport::standardUserDefaults().boolForKey("simulation");
}

bool isFolder(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The record that governs the folder says always clean.
bool isCleanedAlways(const std::string &path)
{
    const std::optional<XFSDiskOrDirectory> record =
        XTWStore::shared().detailsForURL(URL::fileURLWithPath(path), true, false);
    return record && record->mode() == XFSDiskOrDirectory::CleanMode::alwaysClean;
}
}

XEngineFSEvents &XEngineFSEvents::defaultWatcher()
{
    static XEngineFSEvents *watcher = new XEngineFSEvents(FileSystemEventStream::applicationLatency);
    return *watcher;
}

XEngineFSEvents::XEngineFSEvents(std::chrono::milliseconds latency) : m_latency(latency) {}

XEngineFSEvents::~XEngineFSEvents()
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
}

void XEngineFSEvents::makeThread()
{
    if (m_thread)
        return;
    m_thread.reset(QThread::create([this] { fsEventsAndDiskArbThreadEntry(); }));
    m_thread->setObjectName("XEngineFSEvents");
    m_thread->start();
}

void XEngineFSEvents::fsEventsAndDiskArbThreadEntry()
{
    QObject context;
    FileSystemEventStream stream(m_latency, [this](const std::vector<std::string> &paths) { batchArrived(paths); });
    const bool streaming = stream.start();
    if (!streaming)
        SystemLog::write("Tarnwick will not clean changed folders in the background.");
    VolumeUnmounter::setApprovalCallback(&context, [](const std::string &path) { approveUnmount(path); });
    {
        std::lock_guard lock(m_mutex);
        m_context = &context;
        m_stream = streaming ? &stream : nullptr;
    }

    std::vector<std::pair<NotificationCenter *, NotificationCenter::ObserverToken>> observers;
    if (streaming) {
        const auto observe = [this, &observers](NotificationCenter &center, const char *name) {
            observers.emplace_back(&center, center.addObserver(name, nullptr, nullptr,
                                                               [this](const Notification &) { scheduleRootsUpdate(); }));
        };
        observe(NotificationCenter::workspaceCenter(), NotificationCenter::DidMountNotification);
        observe(NotificationCenter::workspaceCenter(), NotificationCenter::DidUnmountNotification);
        observe(NotificationCenter::defaultCenter(), TarnwickStore::didChangeNotification);
        observe(NotificationCenter::defaultCenter(), TarnwickStore::detailsDidChangeNotification);
        updateRoots();
    }

    QEventLoop loop;
    loop.exec();

    for (const auto &[center, token] : observers)
        center->removeObserver(token);
    VolumeUnmounter::clearApprovalCallback(&context);
    std::lock_guard lock(m_mutex);
    m_context = nullptr;
    m_stream = nullptr;
}

std::vector<std::string> XEngineFSEvents::watchedRoots() const
{
    std::lock_guard lock(m_mutex);
    return m_watchedRoots;
}

XEngineFSEvents::Roots XEngineFSEvents::chooseRoots()
{
    Roots roots;
    for (const URL &volume : VolumeList::buildRWVolumeURLList()) {
        if (isCleanedAlways(volume.path()))
            roots.watched.push_back(volume.path());
    }
    // A folder is judged by the record that governs it, which may be another one than its own.
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories()) {
        if (!isFolder(record.path()))
            continue;
        if (isCleanedAlways(record.path()))
            roots.watched.push_back(record.path());
        else
            roots.excluded.push_back(record.path());
    }
    return roots;
}

void XEngineFSEvents::scheduleRootsUpdate()
{
    std::lock_guard lock(m_mutex);
    if (!m_context || m_rootsUpdatePending)
        return;
    m_rootsUpdatePending = true;
    QMetaObject::invokeMethod(m_context, [this] { updateRoots(); }, Qt::QueuedConnection);
}

// On the watcher thread.
void XEngineFSEvents::updateRoots()
{
    FileSystemEventStream *stream = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_rootsUpdatePending = false;
        stream = m_stream;
    }
    if (!stream)
        return;
    const Roots roots = chooseRoots();
    stream->setRoots(roots.watched, roots.excluded);
    std::lock_guard lock(m_mutex);
    m_watchedRoots = stream->roots();
}

// On the watcher thread.
void XEngineFSEvents::batchArrived(const std::vector<std::string> &paths)
{
    // A batch that arrives while a disc is burnt is dropped, not kept for later.
    if (DiscRecordingWatcher::shared().isBusyBurning())
        return;
    const std::shared_ptr<XEngine> engine = XEngine::make(simulationDefault(), false, false, false, false);
    // Each folder is reached beneath the root it is watched under, as the roots are now.
    engine->cleanOnEngineQueue(paths, watchedRoots());
}

// On the watcher thread, before an unmount that then goes ahead whatever happens here.
void XEngineFSEvents::approveUnmount(const std::string &volumePath)
{
    const std::shared_ptr<XEngine> engine = XEngine::make(simulationDefault(), false, false, true, false);
    engine->clean(URL::fileURLWithPath(volumePath), std::nullopt);
    if (engine->progress()->deallocAfterCleaningFinished())
        engine->removeFromActiveEngineList();
}
