#include "XEngine.h"

#include <algorithm>
#include <string_view>

#include "CleaningChoices.h"
#include "ConfinedTree.h"
#include "FileIdentity.h"
#include "FolderAndName.h"
#include "GCDAdditions.h"
#include "LocalizedString.h"
#include "Logger.h"
#include "MountRoot.h"
#include "ModifierKeys.h"
#include "MonotonicClock.h"
#include "OperationQueue.h"
#include "PreferencesSupport.h"
#include "StatisticsManager.h"
#include "TarnwickLaunchdHelper.h"
#include "UserDefaults.h"
#include "VolumeList.h"
#include "WalkVolume.h"
#include "XProgressNull.h"
#include "XTWStore.h"

namespace
{
std::vector<std::shared_ptr<XEngine>> &activeEngineList()
{
    static std::vector<std::shared_ptr<XEngine>> *engines = new std::vector<std::shared_ptr<XEngine>>;
    return *engines;
}

constexpr auto lastCleanDateInterval = std::chrono::seconds(1);
constexpr float recleanDelay = 60.0f;
std::atomic<float> recleanDelayForTesting{0.0f};

bool simulationDefault()
{
    return PreferencesSupport::standardUserDefaults().boolForKey("simulation");
}
}

XEngine::TreeScope::TreeScope(XEngine &engine, const URL &root)
    : m_remover(engine.m_metadataRemover)
{
    if (m_remover.tree())
        return;
    try {
        std::shared_ptr<const ConfinedTree> tree = ConfinedTree::openResolved(root.path());
        // A folder above it renamed and another put in its place: nothing is cleaned through the path.
        const auto pinned = engine.m_pinnedRoots.find(tree->rootPath());
        if (pinned != engine.m_pinnedRoots.end() && FileIdentity::of(tree->rootFd()) != pinned->second)
            throw Error::posix(ESTALE, LSFK(WatchedRoot::movedOrReplacedReason));
        m_remover.setTree(std::move(tree));
        m_owned = true;
    } catch (const Error &error) {
        m_open = false;
        engine.reportNotCleaned(root.path(), error, true);
    }
}

XEngine::TreeScope::~TreeScope()
{
    if (m_owned)
        m_remover.setTree(nullptr);
}

std::shared_ptr<XEngine> XEngine::make(bool simulation, bool manuallyCleaning, bool unmountAfterClean,
                                       bool isCleaningVolumeBeforeEject, bool scheduledClean)
{
    auto engine = std::make_shared<XEngine>(PassKey{}, simulation, manuallyCleaning, unmountAfterClean,
                                            isCleaningVolumeBeforeEject, scheduledClean);
    engine->m_metadataRemover.setIsASimulation(simulation);
    engine->m_metadataRemover.setOwner(std::weak_ptr<XMetadataRemoverOwner>(engine));
    engine->addToActiveEngineList();
    return engine;
}

std::shared_ptr<XEngine> XEngine::newEngineForBackgroundCleaning()
{
    return make(simulationDefault(), false, false, false, false);
}

std::shared_ptr<XEngine> XEngine::newEngineForManualCleaning()
{
    return make(simulationDefault(), true, IsOptionKeyDown(), false, false);
}

std::shared_ptr<XEngine> XEngine::newEngineForScheduledCleaning()
{
    return make(simulationDefault(), true, IsOptionKeyDown(), false, true);
}

std::shared_ptr<XEngine> XEngine::newEngineForDiskEjectCleaning()
{
    return make(simulationDefault(), false, false, true, false);
}

XEngine::XEngine(PassKey, bool simulation, bool manuallyCleaning, bool unmountAfterClean,
                 bool isCleaningVolumeBeforeEject, bool scheduledClean)
    : m_progress(std::make_shared<XProgressNull>()), m_simulation(simulation), m_manuallyCleaning(manuallyCleaning),
      m_unmountAfterClean(unmountAfterClean), m_isCleaningVolumeBeforeEject(isCleaningVolumeBeforeEject),
      m_scheduledClean(scheduledClean)
{
}

XEngine::~XEngine() = default;

const std::vector<std::shared_ptr<XEngine>> &XEngine::activeEngines()
{
    return activeEngineList();
}

std::shared_ptr<XProgressProtocol> XEngine::progress() const
{
    std::lock_guard lock(m_progressMutex);
    return m_progress;
}

std::shared_ptr<XProgressProtocol> XEngine::currentProgress() const
{
    return progress();
}

void XEngine::setProgress(std::shared_ptr<XProgressProtocol> progress)
{
    std::lock_guard lock(m_progressMutex);
    m_progress = std::move(progress);
}

void XEngine::pinRoot(const std::string &path, const FileIdentity &identity)
{
    m_pinnedRoots.insert_or_assign(std::string(FolderAndName::trimmed(path)), identity);
}

void XEngine::addToActiveEngineList()
{
    OperationQueue::main().addOperationWithBlock([engine = shared_from_this()] {
        activeEngineList().push_back(engine);
    });
}

void XEngine::removeFromActiveEngineList()
{
    OperationQueue::main().addOperationWithBlock([engine = shared_from_this()] {
        std::erase(activeEngineList(), engine);
    });
}

void XEngine::progressWindowClosed()
{
    removeFromActiveEngineList();
}

void XEngine::complete()
{
    if (progress()->deallocAfterCleaningFinished())
        removeFromActiveEngineList();
}

bool XEngine::optionEnabled(const XFSDiskOrDirectory &details, const char *key) const
{
    return CleaningChoices::optionEnabled(details, key);
}

void XEngine::clean(const URL &dir, const std::optional<XFSDiskOrDirectory> &givenDetails)
{
    const std::lock_guard run(m_runMutex);
    if (!dir.isReachable())
        return;
    std::optional<TWVolumeInfo> info;
    if (shouldIgnoreVolume(dir, info)) {
        if (info && !info->isRW())
            Logger::shared().log(dir.lastPathComponent() + " is read only. Will ignore.");
        return;
    }
    if (!info)
        return;
    const std::optional<XFSDiskOrDirectory> details =
        givenDetails ? givenDetails : XTWStore::shared().detailsForURL(dir, true, true);
    if (!details)
        return;
    const TreeScope scope(*this, dir);
    if (!scope.isOpen())
        return;
    const std::optional<ConfinedTree::Folder> folder = openFolderOfTree(dir);
    if (!folder)
        return;
    const int fd = folder->fd.get();
    cleanDirectory(dir, fd, *info, CleaningChoices::of(*details), nullptr, isMountRootFd(fd));
}

std::optional<ConfinedTree::Folder> XEngine::openFolderOfTree(const URL &dir)
{
    const std::shared_ptr<const ConfinedTree> &tree = m_metadataRemover.tree();
    if (!tree)
        return std::nullopt;
    try {
        return tree->openFolderToClean(dir.path());
    } catch (const Error &error) {
        reportNotCleaned(dir.path(), error, tree->relativePath(dir.path()) == std::string());
        return std::nullopt;
    }
}

void XEngine::reportNotCleaned(const std::string &path, const Error &error, bool isRoot)
{
    // Gone meanwhile is no news; anything else (a folder on the way swapped for a link, a
    // folder that may not be searched) is worth a line.
    if (error.domain() == Error::POSIXDomain && error.code() == ENOENT)
        return;
    const std::string line = "Not cleaned: " + path + ": " + error.localizedDescription();
    // In the window's list as well as in the log, once: the display writes it to the log
    // itself when deletions are logged.
    progress()->logMsg(line);
    if (!PreferencesSupport::standardUserDefaults().boolForKey("logDeletions"))
        Logger::shared().log(line);
    if (isRoot && !m_rootNotCleaned)
        m_rootNotCleaned = line;
}

void XEngine::updateLastCleanDate(const URL &dir, const TWVolumeInfo &info)
{
    const std::string volume = info.statInfo().mountPoint;
    const MonotonicClock::TimePoint now = MonotonicClock::now();
    {
        std::lock_guard lock(m_lastCleanDateMutex);
        // A walk sets the date of a volume at most once a second, not once per folder.
        const auto sent = m_lastCleanDateSent.find(volume);
        if (sent != m_lastCleanDateSent.end() && now - sent->second < lastCleanDateInterval)
            return;
        if (!m_lastCleanDatePending.insert(volume).second)
            return;
        m_lastCleanDateSent[volume] = now;
    }
    GCDAdditions::onMain([engine = shared_from_this(), dir, volume] {
        {
            std::lock_guard lock(engine->m_lastCleanDateMutex);
            engine->m_lastCleanDatePending.erase(volume);
        }
        StatisticsManager::shared().updateLastCleanDate(dir);
    });
}

std::vector<std::string> XEngine::cleanDirectory(const URL &dir, int folderFd, const TWVolumeInfo &info,
                                                 const CleaningChoices &choices, FolderContents *contents,
                                                 bool mayBeMountRoot, std::optional<bool> *volumeKeepsAttributes)
{
    if (choices.onlyCleanManually && !m_manuallyCleaning)
        return {};
    m_metadataRemover.enterFolder(dir.path(), folderFd, contents, volumeKeepsAttributes);
    cleanEnteredDirectory(dir, info, choices, contents, mayBeMountRoot);
    return m_metadataRemover.leaveFolder();
}

void XEngine::cleanEnteredDirectory(const URL &dir, const TWVolumeInfo &info, const CleaningChoices &choices,
                                    FolderContents *contents, bool mayBeMountRoot)
{
    updateLastCleanDate(dir, info);

    if (mayBeMountRoot) {
        const std::vector<URL> volumes = VolumeList::localVolumeList();
        if (std::find(volumes.begin(), volumes.end(), dir) != volumes.end())
            cleanVolume(dir);
    }

    // With the folder's entries at hand, a name that is not among them is not asked for.
    const auto present = [contents](std::string_view name) { return !contents || contents->mark(name); };
    const auto deleteFile = [&](std::string_view name) {
        if (present(name))
            m_metadataRemover.deleteFile(dir.appendingPathComponent(std::string(name)));
    };
    const auto deleteDirectory = [&](std::string_view name) {
        if (present(name))
            m_metadataRemover.deleteDirectory(dir.appendingPathComponent(std::string(name)));
    };
    if (choices.dsStore)
        deleteFile(".DS_Store");
    if (choices.thumbsDb)
        deleteFile("Thumbs.db");
    if (choices.desktopIni) {
        deleteFile("desktop.ini");
        deleteFile("Desktop.ini");
    }
    if (choices.apdisk)
        deleteFile(".apdisk");
    if (!contents || contents->markMatching(choices.blackList))
        m_metadataRemover.removeBlackListFiles(choices.blackList, dir);
    for (const std::string &name : choices.dynamicFileNames)
        deleteFile(name);
    if (choices.appleDouble && (m_manuallyCleaning || !info.hasDecentRFSupport())
        && (!contents || contents->markAppleDoubleFiles())) {
        m_metadataRemover.removeAppleDoubleFiles(
            dir, choices.volumeAttrs, choices.securityData,
            choices.tags, choices.aliasData,
            choices.colorLabels, choices.customIcons);
    }
    if (choices.appleDoubleNetatalk)
        deleteDirectory(".AppleDouble");
    if (choices.eaDirSynology)
        deleteDirectory("@eaDir");
    if (choices.iconFile)
        deleteFile("Icon\r");
    if (!contents || contents->markOwnTemporaryFiles())
        m_metadataRemover.removeStaleTemporaryFiles(dir);
}

void XEngine::cleanVolume(const URL &root)
{
    const std::lock_guard run(m_runMutex);
    if (isInIgnoreList(root))
        return;
    TWVolumeInfo info;
    if (CFUGetVolumeInfo(root.path(), &info) != 0)
        return;
    if (info.tarnwShouldIgnore() || !info.isRW() || info.isMacDisk() || info.isServer())
        return;
    const std::optional<XFSDiskOrDirectory> details = XTWStore::shared().detailsForURL(root, true, true);
    if (!details)
        return;
    // A volume's root is a mount point, named by the mount table.
    const TreeScope scope(*this, root);
    if (!scope.isOpen())
        return;
    if (m_isCleaningVolumeBeforeEject)
        StatisticsManager::shared().clearHistory();
    if (optionEnabled(*details, "volumeicon") && !optionEnabled(*details, "volumeAttrs"))
        m_metadataRemover.deleteFile(root.appendingPathComponent(".VolumeIcon.icns"));
    if (details->onlyDeleteFoldersOnManualClean()) {
        if (!m_manuallyCleaning && !m_isCleaningVolumeBeforeEject)
            return;
    } else if (optionEnabled(*details, "onlyCleanManually") && !m_manuallyCleaning) {
        return;
    }

    std::vector<URL> candidates;
    for (const XFSDetailsFlagItem &item : details->detailsFlags()) {
        if (item.enabled() && item.type() == XFSDetailsFlagItem::ItemType::legacyRootFolderItemType
            && !item.fsName().empty())
            candidates.push_back(root.appendingPathComponent(item.fsName()));
    }
    deleteFoldersAuthenticatedIfNeeded(filterRootFolderCandidates(candidates, root));
}

std::vector<URL> XEngine::filterRootFolderCandidates(const std::vector<URL> &candidates, const URL &root)
{
    std::vector<URL> survivors;
    for (const URL &candidate : candidates) {
        if (!candidate.isReachable())
            continue;
        if (isInWhiteList(candidate.path()))
            continue;
        if (StatisticsManager::shared().hasBeenDeletedTooOften(candidate)) {
            queueReclean(candidate, root);
            continue;
        }
        survivors.push_back(candidate);
    }
    return survivors;
}

// A folder that keeps coming back is left alone for now; the whole root is cleaned once
// more a minute later, by this engine, which the delayed block keeps alive until then. The
// clean itself goes to the engine's queue, after whatever the engine still runs there: the
// main thread never waits for it, and the remover is never used by two threads.
void XEngine::queueReclean(const URL &folder, const URL &root)
{
    if (!StatisticsManager::shared().addToRecleanQueueIfAbsent(folder))
        return;
    const float testDelay = recleanDelayForTesting.load();
    const float delay = testDelay > 0 ? testDelay : recleanDelay;
    GCDAdditions::performBlockAfterDelay(delay, [engine = shared_from_this(), folder, root] {
        StatisticsManager::shared().clearHistory();
        StatisticsManager::shared().removeFromRecleanQueue(folder);
        engine->runOnEngineQueue([engine, root] { engine->cleanVolume(root); });
    });
}

void XEngine::setRecleanDelayForTesting(std::optional<float> seconds)
{
    recleanDelayForTesting.store(seconds.value_or(0.0f));
}

void XEngine::runOnEngineQueue(std::function<void()> work)
{
    m_queue.addOperationWithBlock([engine = shared_from_this(), work = std::move(work)] {
        const std::lock_guard run(engine->m_runMutex);
        work();
    });
}

void XEngine::deleteFoldersAuthenticatedIfNeeded(const std::vector<URL> &urls)
{
    const std::lock_guard run(m_runMutex);
    if (urls.empty())
        return;
    const std::shared_ptr<XProgressProtocol> display = progress();
    std::vector<URL> failed;
    for (const URL &url : urls) {
        const std::optional<StatisticsManager::DeletionInformation> information =
            StatisticsManager::DeletionInformation::forItem(url);
        std::optional<Error> error;
        if (!m_simulation && url.isReachable()) {
            // Outside a clean's tree, the folder that holds the item is the root.
            const TreeScope scope(*this, url.deletingLastPathComponent());
            if (!scope.isOpen())
                continue;
            try {
                m_metadataRemover.removeItem(url);
            } catch (const Error &removalError) {
                error = removalError;
            }
        }
        if (error) {
            display->logMsg(error->localizedDescription());
            failed.push_back(url);
            continue;
        }
        display->incrementNumberOfItemsDeleted();
        GCDAdditions::onMain([information] { StatisticsManager::shared().deletedItem(information); });
        display->deletionMessageForURL(url, std::nullopt);
    }
    if (failed.empty())
        return;
    // A folder that is still there is not counted as deleted.
    for (const URL &url : failed) {
        display->logMsg("Attempting authenticated delete: " + url.lastPathComponent() + " in "
                        + url.deletingLastPathComponent().path());
    }
    TarnwickLaunchdHelper::sharedInstance().deleteItems(failed, [display](const std::optional<std::string> &message) {
        if (message)
            display->logMsg("Authenticated delete error: " + *message);
    });
}

void XEngine::cleanAllVolumesNow()
{
    const std::lock_guard run(m_runMutex);
    if (m_manuallyCleaning)
        return;
    for (const URL &volume : VolumeList::buildRWVolumeURLList())
        cleanVolume(volume);
}
