#include "Core.h"

#include <algorithm>
#include <thread>

#include "Bundle.h"
#include "GCDAdditions.h"
#include "LocalizedString.h"
#include "Logger.h"
#include "Pasteboard.h"
#include "StatisticsManager.h"
#include "SystemLog.h"
#include "TWVolumeInfo.h"
#include "UserNotificationAlert.h"
#include "VolumeList.h"
#include "XEngine.h"
#include "XTWStore.h"

namespace
{
using CleanMode = XFSDiskOrDirectory::CleanMode;

bool contains(const std::vector<std::string> &paths, const std::string &path)
{
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

std::string replacingPlaceholder(std::string format, const std::string &text)
{
    const std::size_t at = format.find("%@");
    if (at != std::string::npos)
        format.replace(at, 2, text);
    return format;
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}
}

Core::Core(Timing timing)
    : m_timing(timing)
{
}

Core::~Core()
{
    if (m_mountObserver)
        NotificationCenter::workspaceCenter().removeObserver(m_mountObserver);
    for (const char *name : {askToCleanDiskBlockName, accessSecurityScopedSourceItemsBlockName, cleanAllVolumesBlockName})
        GCDAdditions::cancelBlockWithName(name);
}

Core &Core::sharedInstance()
{
    static const std::shared_ptr<Core> instance = [] {
        SystemLog::write("Core_sharedInstance == nil. Will alloc.");
        std::shared_ptr<Core> core = create(Timing());
        core->prepare();
        return core;
    }();
    return *instance;
}

std::shared_ptr<Core> Core::create(Timing timing)
{
    return std::shared_ptr<Core>(new Core(timing));
}

void Core::prepare()
{
    LoggerObjc::log("Tarnwick starting.\n");
    setAutoCleanQuestionDisks({});
    setAutoCleanQuestionDisksInProgress({});
    // Other applications reach cleanItemService through the application's instance channel,
    // which is set up with the application; there is no menu of services to register with.
    const std::weak_ptr<Core> weakCore = weak_from_this();
    m_mountObserver = NotificationCenter::workspaceCenter().addObserver(
        NotificationCenter::DidMountNotification, nullptr, nullptr, [weakCore](const Notification &notification) {
            if (const std::shared_ptr<Core> core = weakCore.lock())
                core->deviceListChanged(&notification);
        });
    deviceListChanged(nullptr);
    LoggerObjc::log("finished starting.\n");
}

void Core::deviceListChanged(const Notification *notification)
{
    std::optional<std::string> path;
    if (notification) {
        const auto found = notification->userInfo.find(NotificationCenter::DevicePathKey);
        if (found != notification->userInfo.end() && found->second.asString())
            path = *found->second.asString();
    }
    if (path && !contains(autoCleanQuestionDisks(), *path) && shouldAskToCleanDisk(*path)) {
        {
            std::lock_guard lock(m_mutex);
            m_autoCleanQuestionDisks.push_back(*path);
        }
        requestAskToCleanDisk();
    }

    StatisticsManager::shared().clearHistory();
    setLocalVolumeList(buildRWVolumeURLList());

    const std::weak_ptr<Core> weakCore = weak_from_this();
    GCDAdditions::cancelPreviousThenPerformBlockWithName(
        accessSecurityScopedSourceItemsBlockName, m_timing.accessSecurityScopedSourceItemsDelay, [weakCore] {
            if (weakCore.lock())
                XTWStore::shared().accessSecurityScopedSourceItems();
        });
    GCDAdditions::cancelPreviousThenPerformBlockWithName(cleanAllVolumesBlockName, m_timing.cleanAllVolumesDelay,
                                                         [weakCore] {
                                                             if (weakCore.lock())
                                                                 XEngine::cleanAllVolumes();
                                                         });
}

void Core::requestAskToCleanDisk()
{
    const std::weak_ptr<Core> weakCore = weak_from_this();
    GCDAdditions::cancelPreviousThenPerformBlockWithName(askToCleanDiskBlockName, m_timing.askToCleanDiskDelay,
                                                         [weakCore] {
                                                             if (const std::shared_ptr<Core> core = weakCore.lock())
                                                                 core->askToCleanDisk();
                                                         });
}

void Core::askToCleanDisk()
{
    if (!autoCleanQuestionDisksInProgress().empty())
        return;
    // A disk that went while it waited is not asked about.
    std::vector<std::string> toAsk;
    for (const std::string &path : autoCleanQuestionDisks()) {
        if (isMountedVolume(path))
            toAsk.push_back(path);
    }
    {
        std::lock_guard lock(m_mutex);
        m_autoCleanQuestionDisks.clear();
        m_autoCleanQuestionDisksInProgress = toAsk;
    }
    if (toAsk.empty())
        return;
    std::thread([core = shared_from_this()] { core->askShouldCleanDiskThread(); }).detach();
}

std::string Core::promptHeader(const std::vector<std::string> &paths)
{
    std::string names;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i > 0)
            names += i + 1 == paths.size() ? LSFK(" and ") : LSFK(", ");
        names += TWVolumeDisplayName(paths[i]);
    }
    if (paths.size() < 2)
        return replacingPlaceholder(LSFK("Would you like Tarnwick to keep the disk \"%@\" clean?"), names);
    return replacingPlaceholder(LSFK("Would you like Tarnwick to keep the disks %@ clean?"), names);
}

void Core::askShouldCleanDiskThread()
{
    const std::string header = promptHeader(autoCleanQuestionDisksInProgress());
    const UserNotificationAlert::Result result = UserNotificationAlert::displayAlert(
        m_timing.promptTimeout, UserNotificationAlert::cautionLevel,
        Bundle::main().pathForResource("TarnwickIcons", "icns"), header,
        LSFK("You can change Tarnwick's preferences for this disk at anytime by opening Tarnwick from the applications menu."),
        LSFK("Keep Clean"), LSFK("Ask Next Time"), LSFK("Don't Clean"));

    int response = result.response;
    if (result.failed) {
        // Unanswered is not "Keep Clean": the disks are asked about again at their next mount.
        SystemLog::write("The question whether to keep the disks clean could not be shown; nothing was stored.");
        response = UserNotificationAlert::cancelResponse;
    }
    GCDAdditions::onMain([core = shared_from_this(), response] { core->finishAskShouldCleanDisk(response); });
}

void Core::finishAskShouldCleanDisk(int responseFlags)
{
    std::optional<CleanMode> mode;
    if (responseFlags == UserNotificationAlert::defaultResponse)
        mode = CleanMode::alwaysClean;
    else if (responseFlags == UserNotificationAlert::otherResponse)
        mode = CleanMode::ignore;

    if (mode) {
        for (const std::string &path : autoCleanQuestionDisksInProgress()) {
            // The answer was about the disk that was asked about, not whatever is there now.
            if (!isMountedVolume(path)) {
                SystemLog::write("The disk at " + path + " was unmounted before the answer came; nothing was stored.");
                continue;
            }
            XTWStore::shared().addDetailsForVolumeAtPath(path, *mode);
        }
    }
    setAutoCleanQuestionDisksInProgress({});
    if (!autoCleanQuestionDisks().empty())
        requestAskToCleanDisk();
}

bool Core::shouldAskToCleanDisk(const std::string &path) const
{
    TWVolumeInfo info;
    if (CFUGetVolumeInfo(path, &info) != 0)
        return false;
    const URL url = URL::fileURLWithPath(path);
    if (XEngine::isInIgnoreList(url))
        return false;
    if (info.hasDecentRFSupport() || !info.isRW() || info.tarnwShouldIgnore())
        return false;
    XTWStore &store = XTWStore::shared();
    std::optional<XFSDiskOrDirectory> record = store.detailsForURL(url, false, false);
    if (!record)
        record = info.isServer() ? store.detailsForServers() : store.detailsForDisks();
    return record->mode() == CleanMode::askToClean;
}

bool Core::isMountedVolume(const std::string &path)
{
    TWVolumeInfo info;
    return CFUGetVolumeInfo(path, &info) == 0
           && withoutTrailingSlashes(info.statInfo().mountPoint) == withoutTrailingSlashes(path);
}

std::vector<URL> Core::buildRWVolumeURLList()
{
    return VolumeList::buildRWVolumeURLList();
}

void Core::cleanItemService(const Pasteboard &pasteboard, const std::string &, std::string *)
{
    cleanService(pasteboard);
}

void Core::cleanService(const Pasteboard &pasteboard)
{
    const std::vector<std::string> types = pasteboard.types();
    if (!contains(types, Pasteboard::filenamesType))
        return;
    const std::optional<Value> propertyList = pasteboard.propertyListForType(Pasteboard::filenamesType);
    if (!propertyList || !propertyList->asArray())
        return;
    std::vector<URL> urls;
    for (const Value &item : *propertyList->asArray()) {
        const std::string *path = item.asString();
        if (!path)
            return;
        // A path relative to someone else's folder names nothing certain here.
        if (path->empty() || path->front() != '/') {
            SystemLog::write("Items to clean must be given with absolute paths; ignored: \"" + *path + "\"");
            return;
        }
        urls.push_back(URL::fileURLWithPath(*path));
    }
    XEngine::cleanInResponseToUserRequest(urls, std::nullopt);
}

std::vector<URL> Core::localVolumeList() const
{
    std::lock_guard lock(m_mutex);
    return m_localVolumeList;
}

void Core::setLocalVolumeList(std::vector<URL> volumes)
{
    std::lock_guard lock(m_mutex);
    m_localVolumeList = std::move(volumes);
}

std::vector<std::string> Core::autoCleanQuestionDisks() const
{
    std::lock_guard lock(m_mutex);
    return m_autoCleanQuestionDisks;
}

void Core::setAutoCleanQuestionDisks(std::vector<std::string> paths)
{
    std::lock_guard lock(m_mutex);
    m_autoCleanQuestionDisks = std::move(paths);
}

std::vector<std::string> Core::autoCleanQuestionDisksInProgress() const
{
    std::lock_guard lock(m_mutex);
    return m_autoCleanQuestionDisksInProgress;
}

void Core::setAutoCleanQuestionDisksInProgress(std::vector<std::string> paths)
{
    std::lock_guard lock(m_mutex);
    m_autoCleanQuestionDisksInProgress = std::move(paths);
}
