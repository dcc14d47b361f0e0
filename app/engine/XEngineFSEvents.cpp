#include "XEngineFSEvents.h"

#include <QEventLoop>
#include <QObject>
#include <QThread>

#include "DiscRecordingWatcher.h"
#include "FileSystemEventStream.h"
#include "LocalizedString.h"
#include "KeptFolders.h"
#include "Logger.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "VolumeList.h"
#include "VolumeUnmounter.h"
#include "WatchedRoot.h"
#include "XEngine.h"
#include "XProgressProtocol.h"
#include "XTWStore.h"

namespace
{
bool simulationDefault()
{
    return PreferencesSupport::standardUserDefaults().boolForKey("simulation");
}

// A folder there now, reached without following a link on the way.
bool isFolder(const std::string &path)
{
    return WatchedRoot::at(path).has_value();
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

XEngineFSEvents::XEngineFSEvents(std::chrono::milliseconds latency)
    : m_latency(latency), m_relay(std::make_shared<Relay>())
{
    m_relay->watcher = this;
}

XEngineFSEvents::~XEngineFSEvents()
{
    {
        std::lock_guard lock(m_relay->mutex);
        m_relay->watcher = nullptr;
    }
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
    stream.setRootsChangedCallback([this] { scheduleRootsUpdate(); });
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
    KeptFolders::replace({});
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
    // A folder is judged by the record that governs it, which may be another one than its own;
    // it is reached by the path its record resolved when it was chosen. A folder kept clean that
    // is not there now is watched for, so that it is watched again when it is back.
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories()) {
        const std::string &path = record.resolvedPath();
        if (!isFolder(path)) {
            if (record.mode() == XFSDiskOrDirectory::CleanMode::alwaysClean && path.starts_with('/'))
                roots.watched.push_back(path);
            continue;
        }
        if (isCleanedAlways(path))
            roots.watched.push_back(path);
        else
            roots.excluded.push_back(path);
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
    // A kept folder moved away from its path is said once; what is there meanwhile is not cleaned,
    // by a scheduled clean either: the folders kept are known by their identity.
    std::set<std::string> displaced;
    std::vector<WatchedRoot> kept = stream->watchedRoots();
    for (const WatchedRoot &root : stream->displacedRoots()) {
        if (!m_displacedRoots.contains(root.path))
            Logger::shared().log("Not cleaned: " + root.path + ": " + LSFK(WatchedRoot::movedOrReplacedReason));
        displaced.insert(root.path);
        kept.push_back(root);
    }
    m_displacedRoots = std::move(displaced);
    KeptFolders::replace(kept);
    std::lock_guard lock(m_mutex);
    m_watchedRoots = stream->roots();
}

// On the watcher thread.
void XEngineFSEvents::batchArrived(const std::vector<std::string> &paths)
{
    // A batch that arrives while a disc is burnt is dropped, not kept for later.
    if (DiscRecordingWatcher::shared().isBusyBurning())
        return;
    std::vector<WatchedRoot> roots;
    {
        std::lock_guard lock(m_mutex);
        if (m_stream)
            roots = m_stream->watchedRoots();
    }
    const std::shared_ptr<XEngine> engine = XEngine::make(simulationDefault(), false, false, false, false);
    // Each folder is reached beneath the root it is watched under, as the roots are now; a root
    // found replaced has the roots chosen again.
    engine->cleanOnEngineQueue(paths, roots, [relay = m_relay] {
        std::lock_guard lock(relay->mutex);
        if (relay->watcher)
            relay->watcher->scheduleRootsUpdate();
    });
}

// On the watcher thread, before an unmount that then goes ahead whatever happens here.
void XEngineFSEvents::approveUnmount(const std::string &volumePath)
{
    const std::shared_ptr<XEngine> engine = XEngine::make(simulationDefault(), false, false, true, false);
    engine->clean(URL::fileURLWithPath(volumePath), std::nullopt);
    if (engine->progress()->deallocAfterCleaningFinished())
        engine->removeFromActiveEngineList();
}
