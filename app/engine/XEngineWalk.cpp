#include "XEngine.h"

#include <climits>
#include <dirent.h>
#include <sys/stat.h>

#include "DirectoryRecords.h"
#include "GCDAdditions.h"
#include "Logger.h"
#include "MountRoot.h"
#include "MonotonicClock.h"
#include "StatisticsManager.h"
#include "SystemLog.h"
#include "TWFileManager.h"
#include "TarnwickStore.h"
#include "WalkVolume.h"
#include "XTWStore.h"
#include "XProgressProtocol.h"

namespace
{
constexpr std::string_view documentRevisionsName = ".DocumentRevisions-V100";
constexpr std::string_view netatalkFolderName = ".AppleDouble";
constexpr auto slowEntryInterval = std::chrono::seconds(1);
constexpr const char *spinnerHideName = "progressSpinnerHide";
constexpr float spinnerHideDelay = 10.0f;

// One level of the open folder, hidden entries included; links are never directories.
FolderContents listFolder(int folderFd, std::uint8_t *buffer, std::size_t size)
{
    FolderContents contents;
    DirectoryRecords::read(folderFd, buffer, size, [&](std::string_view name, unsigned char type) {
        const bool isDirectory = type == DT_DIR;
        contents.add(name, isDirectory, type == DT_REG, isDirectory && isMountRootAt(folderFd, std::string(name)));
    });
    return contents;
}

}
// The folder being walked: its listing, read in full and closed, and how far the walk got.
struct XEngine::WalkFrame
{
    URL dir;
    FolderContents contents;
    std::size_t next = 0;
    std::shared_ptr<VolumeMetaDataStatistics> stats;
    std::shared_ptr<WalkVolume> volume;
    // The folder's own path names a document-revisions folder (only a root chosen inside one).
    bool inDocumentRevisions = false;
};

std::shared_ptr<VolumeMetaDataStatistics> XEngine::setProgressBarAttributesBasedOnURL(const URL &url)
{
    // Only a mount point can be a disk's root; the cheap test spares the mount table.
    if (!isMountRoot(url.path()) || !TWFileManager::isPathToADisk(url.path()))
        return nullptr;
    std::shared_ptr<VolumeMetaDataStatistics> stats = StatisticsManager::shared().volumeItemFor(url);
    if (!stats)
        return nullptr;
    if (const std::int64_t last = stats->numberOfDirectoriesEncountedInLastFullScan(); last > 0) {
        const std::shared_ptr<XProgressProtocol> display = progress();
        display->setIndeterminate(false);
        display->setProgressIndicatorMaxValue(last);
    }
    return stats;
}

std::shared_ptr<const CleaningChoices> XEngine::recordInWalk(const URL &dir, WalkVolume &volume,
                                                             const WalkContext &context)
{
    std::vector<bool> governing = context.recordsGoverning(comparableRecordPath(dir.path()));
    if (volume.recordKnown && governing == volume.recordsGoverningRecord)
        return volume.record;
    const std::optional<XFSDiskOrDirectory> details = XTWStore::shared().detailsForURL(dir, true, true);
    const std::shared_ptr<const CleaningChoices> record =
        details ? std::make_shared<const CleaningChoices>(CleaningChoices::of(*details)) : nullptr;
    if (!volume.recordKnown) {
        volume.recordKnown = true;
        volume.record = record;
        volume.recordsGoverningRecord = std::move(governing);
    }
    return record;
}

std::vector<std::string> XEngine::cleanInWalk(const URL &dir, int folderFd, WalkVolume &volume,
                                              const WalkContext &context, bool knownNotIgnored,
                                              const std::optional<TWVolumeInfo> &knownInfo, FolderContents *contents,
                                              bool mayBeMountRoot)
{
    std::optional<TWVolumeInfo> info = knownInfo;
    if (!knownNotIgnored && shouldIgnoreVolume(dir, false, volume, context, info)) {
        if (info && !info->isRW())
            Logger::shared().log(dir.lastPathComponent() + " is read only. Will ignore.");
        return {};
    }
    if (!info)
        return {};
    const std::shared_ptr<const CleaningChoices> details = recordInWalk(dir, volume, context);
    if (!details)
        return {};
    return cleanDirectory(dir, folderFd, *info, *details, contents, mayBeMountRoot, &volume.keepsAttributes);
}

// Depth first, each folder cleaned before its contents, on an explicit stack: the depth is
// bounded by memory, not by the thread's stack. Every folder is opened through the root's
// descriptor, never through a symbolic link and never outside the tree, and only while it is
// listed and cleaned; a folder that may not be read is cleaned by name and not walked. The
// facts of a volume are read where the walk enters it, not for every folder.
bool XEngine::cleanRecursively(const URL &root)
{
    const std::lock_guard run(m_runMutex);
    const std::shared_ptr<XProgressProtocol> display = progress();
    const WalkContext context = WalkContext::current();
    const TreeScope scope(*this, root, RootNaming::asNamed);
    if (!scope.isOpen())
        return false;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[DirectoryIterator::attrBufferSize]);
    MonotonicClock::TimePoint lastTick = MonotonicClock::now();
    std::vector<WalkFrame> stack;

    // False when the folder could not be reached.
    const auto enter = [&](const URL &dir, const std::shared_ptr<WalkVolume> &volume, bool knownNotIgnored,
                           const std::optional<TWVolumeInfo> &knownInfo, bool mayBeMountRoot) {
        if (dir.path().size() >= PATH_MAX) {
            Logger::shared().log("Path too long, not cleaned: " + dir.path());
            return false;
        }
        const std::optional<ConfinedTree::Folder> folder = openFolderOfTree(dir);
        if (!folder) {
            if (TarnwickStore::sharedInstance().detailedLoggingEnabled())
                Logger::shared().log(dir.path());
            return false;
        }
        const int fd = folder->fd.get();
        // The listing is read before the clean and then stripped of what the clean removed:
        // the same entries a listing after the clean would give, for one reading of the folder.
        FolderContents contents;
        if (folder->listable)
            contents = listFolder(fd, buffer.get(), DirectoryIterator::attrBufferSize);
        m_metadataRemover.setVolumeRoot(volume->mountPoint);
        const std::vector<std::string> removed = cleanInWalk(dir, fd, *volume, context, knownNotIgnored, knownInfo,
                                                             folder->listable ? &contents : nullptr, mayBeMountRoot);
        if (TarnwickStore::sharedInstance().detailedLoggingEnabled())
            Logger::shared().log(dir.path());
        // A folder that cannot be listed is cleaned by name and not walked.
        if (!folder->listable)
            return true;
        contents.dropRemoved(fd, removed);
        WalkFrame frame{dir, std::move(contents), 0,
                        mayBeMountRoot ? setProgressBarAttributesBasedOnURL(dir) : nullptr, volume,
                        dir.path().find(documentRevisionsName) != std::string::npos};
        lastTick = MonotonicClock::now();
        display->displayCleaningProgressForFolder(dir);
        stack.push_back(std::move(frame));
        return true;
    };
    const auto countEntry = [&] {
        const std::int64_t total = ++m_totalNumberOfDirectoriesEnumerated;
        display->setNumberOfItemsExamined(total);
        lastTick = MonotonicClock::now();
    };

    if (!enter(root, WalkVolume::read(root.path()), false, std::nullopt,
               isMountRootFd(m_metadataRemover.tree()->rootFd())))
        return false;
    while (!stack.empty()) {
        WalkFrame &frame = stack.back();
        if (frame.next == frame.contents.size()) {
            if (frame.stats)
                frame.stats->setNumberOfDirectoriesEncountedInLastFullScan(m_totalNumberOfDirectoriesEnumerated);
            stack.pop_back();
            // The folder just finished was an entry of the one below it.
            if (!stack.empty())
                countEntry();
            continue;
        }
        const WalkEntry &entry = frame.contents[frame.next++];
        const std::string_view name = entry.name();
        if (frame.inDocumentRevisions || name.find(documentRevisionsName) != std::string_view::npos
            || name == netatalkFolderName)
            continue;
        if (display->userHasCanceled())
            continue;
        if (MonotonicClock::now() - lastTick > slowEntryInterval) {
            display->ioIsSlow(true);
            GCDAdditions::cancelPreviousThenPerformBlockWithName(spinnerHideName, spinnerHideDelay,
                                                                 [display] { display->ioIsSlow(false); });
        }
        if (!entry.isDirectory) {
            countEntry();
            continue;
        }
        const URL item = frame.dir.appendingPathComponent(std::string(name));
        if (item.path().size() >= PATH_MAX) {
            Logger::shared().log("Path too long, not cleaned: " + item.path());
        } else {
            const bool mountRoot = entry.isMountRoot;
            const std::shared_ptr<WalkVolume> volume = mountRoot ? WalkVolume::read(item.path()) : frame.volume;
            std::optional<TWVolumeInfo> info;
            if (shouldIgnoreVolume(item, true, *volume, context, info)) {
                SystemLog::write("Ignore " + item.path());
            } else {
                const std::size_t depth = stack.size();
                enter(item, volume, true, info, mountRoot);
                // Entered: the entry is counted when its folder is done.
                if (stack.size() > depth)
                    continue;
            }
        }
        countEntry();
    }
    m_metadataRemover.setVolumeRoot(std::nullopt);
    return true;
}
