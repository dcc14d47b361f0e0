#include "XEngine.h"

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DirectoryRecords.h"
#include "FileIdentity.h"
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
// The folders of a walk held open at once, the deepest ones: the walk enters a folder from its
// parent's descriptor, and a folder further up is opened again when the walk comes back to it.
constexpr std::size_t openFolderLevels = 32;

// One level of the open folder, hidden entries included; links are never directories. Whether
// a subfolder is another mount is asked of the subfolder once it is open, not here. `error` is
// what ended the listing early, 0 for nothing.
FolderContents listFolder(int folderFd, std::uint8_t *buffer, std::size_t size, int &error)
{
    FolderContents contents;
    error = DirectoryRecords::read(folderFd, buffer, size, [&](std::string_view name, unsigned char type) {
        contents.add(name, type == DT_DIR, type == DT_REG);
    });
    return contents;
}
}

// The folder being walked: its listing, read in full, how far the walk got, and the folder
// itself, open while its subfolders are entered from it. Its path is the walk's path up to its
// length: a frame keeps no path of its own, so a deep walk's memory grows with its depth alone.
struct XEngine::WalkFrame
{
    std::size_t pathLength;
    FolderContents contents;
    FolderPosition next;
    std::shared_ptr<VolumeMetaDataStatistics> stats;
    std::shared_ptr<WalkVolume> volume;
    PathLists::Progress lists;
    // The mount the folder lies on (see folderMountFd); nothing when it could not be examined.
    std::optional<std::uint64_t> mount;
    // Let go once the walk is deeper than the levels it holds open; then `identity` tells the
    // folder when it is opened again.
    FileDescriptor fd;
    std::optional<FileIdentity> identity;
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
                                              const WalkContext &context, const PathLists &lists,
                                              const PathLists::Progress &listsProgress, bool knownNotIgnored,
                                              const std::optional<TWVolumeInfo> &knownInfo,
                                              FolderContents *contents, bool mayBeMountRoot)
{
    std::optional<TWVolumeInfo> info = knownInfo;
    if (!knownNotIgnored && shouldIgnoreVolume(dir, false, volume, lists, listsProgress, info)) {
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

std::optional<ConfinedTree::Folder> XEngine::openSubfolder(int parentFd, std::string_view name,
                                                            std::optional<Error> &failure)
{
    try {
        return ConfinedTree::openFolderToCleanBeneath(parentFd, std::string(name));
    } catch (const Error &error) {
        failure = error;
        return std::nullopt;
    }
}

// A folder the walk comes back to after it let its descriptor go: ".." of the subfolder just
// done, when that is still the folder; else, the subfolder having been moved, the folder is
// reached from the tree's root as it was the first time. A folder found replaced is left (its
// remaining subfolders are not entered), as a folder gone meanwhile is.
void XEngine::reachAgain(WalkFrame &frame, const URL &dir, int subfolderFd)
{
    if (frame.fd.isValid() || !frame.identity)
        return;
    FileDescriptor up(openat(subfolderFd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (up.isValid() && FileIdentity::of(up.get()) == frame.identity) {
        frame.fd = std::move(up);
        return;
    }
    std::optional<ConfinedTree::Folder> again = openFolderOfTree(dir);
    if (again && again->listable && FileIdentity::of(again->fd.get()) == frame.identity)
        frame.fd = std::move(again->fd);
}

// Depth first, each folder cleaned before its contents, on an explicit stack: the depth is
// bounded by memory, not by the thread's stack. The root is opened through the tree's root
// descriptor and every other folder through its parent's, never through a symbolic link and
// never outside the folder it is opened from; each is listed once and cleaned while open. A
// folder moved out of the tree while the walk is inside it is still walked (its own entries
// only, as it holds them), and the walk then goes on in its former parent. A folder that may
// not be read is cleaned by name and not walked. The facts of a volume are read where the
// walk enters it, not for every folder; a subfolder is another volume when the folder opened
// lies on another mount than its parent, so a disk mounted on it after the listing is judged
// by its own facts and record.
bool XEngine::cleanRecursively(const URL &root)
{
    const std::lock_guard run(m_runMutex);
    const std::shared_ptr<XProgressProtocol> display = progress();
    const WalkContext context = WalkContext::current();
    const PathLists lists(context.whiteList);
    const TreeScope scope(*this, root);
    if (!scope.isOpen())
        return false;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(DirectoryIterator::attrBufferSize);
    MonotonicClock::TimePoint lastTick = MonotonicClock::now();
    std::vector<WalkFrame> stack;
    // The path of the deepest folder on the stack; each frame's is its beginning.
    std::string walkPath;
    // A root chosen inside a document-revisions folder is cleaned itself and not walked.
    const bool rootInDocumentRevisions = root.path().find(documentRevisionsName) != std::string::npos;

    // Lists and cleans the open folder, and leaves it on the stack to be walked.
    const auto enter = [&](const URL &dir, ConfinedTree::Folder folder, const std::shared_ptr<WalkVolume> &volume,
                           const PathLists::Progress &listsProgress, bool knownNotIgnored,
                           const std::optional<TWVolumeInfo> &knownInfo, bool mayBeMountRoot,
                           std::optional<std::uint64_t> mount) {
        const int fd = folder.fd.get();
        // The listing is read before the clean and then stripped of what the clean removed:
        // the same entries a listing after the clean would give, for one reading of the folder.
        FolderContents contents;
        if (folder.listable) {
            // What was listed before a failing listing is still cleaned and walked; the folder
            // is said.
            int error = 0;
            contents = listFolder(fd, buffer.get(), DirectoryIterator::attrBufferSize, error);
            if (error != 0)
                reportNotCleaned(dir.path(), Error::posix(error), stack.empty());
        }
        m_metadataRemover.setVolumeRoot(volume->mountPoint);
        display->placeFolder(dir.path(), volume->location);
        const std::vector<std::string> removed =
            cleanInWalk(dir, fd, *volume, context, lists, listsProgress, knownNotIgnored, knownInfo,
                        folder.listable ? &contents : nullptr, mayBeMountRoot);
        if (TarnwickStore::sharedInstance().detailedLoggingEnabled())
            Logger::shared().log(dir.path());
        // A folder that cannot be listed is cleaned by name and not walked.
        if (!folder.listable)
            return;
        contents.dropRemoved(fd, removed);
        std::shared_ptr<VolumeMetaDataStatistics> stats =
            mayBeMountRoot ? setProgressBarAttributesBasedOnURL(dir) : nullptr;
        walkPath = dir.path();
        WalkFrame frame{walkPath.size(), std::move(contents), {}, std::move(stats), volume, listsProgress, mount,
                        std::move(folder.fd), std::nullopt};
        lastTick = MonotonicClock::now();
        display->displayCleaningProgressForFolder(dir);
        stack.push_back(std::move(frame));
        // The deepest levels stay open; the one now above them lets its descriptor go.
        if (stack.size() > openFolderLevels) {
            WalkFrame &above = stack[stack.size() - 1 - openFolderLevels];
            if (above.fd.isValid()) {
                above.identity = FileIdentity::of(above.fd.get());
                above.fd.reset();
            }
        }
    };
    const auto countEntry = [&] {
        const std::int64_t total = ++m_totalNumberOfDirectoriesEnumerated;
        display->setNumberOfItemsExamined(total);
        lastTick = MonotonicClock::now();
    };

    {
        const std::shared_ptr<WalkVolume> volume = WalkVolume::read(root.path());
        if (root.path().size() >= PATH_MAX) {
            reportNotCleaned(root.path(), Error::posix(ENAMETOOLONG), true);
            return false;
        }
        std::optional<ConfinedTree::Folder> folder = openFolderOfTree(root);
        if (!folder) {
            if (TarnwickStore::sharedInstance().detailedLoggingEnabled())
                Logger::shared().log(root.path());
            return false;
        }
        const std::optional<FolderMount> mount = folderMountFd(folder->fd.get());
        enter(root, std::move(*folder), volume, lists.progressOf(root.path(), volume->location), false, std::nullopt,
              isMountRootFd(m_metadataRemover.tree()->rootFd()),
              mount ? std::optional<std::uint64_t>(mount->mount) : std::nullopt);
    }
    while (!stack.empty()) {
        WalkFrame &frame = stack.back();
        const std::optional<WalkEntry> entry = frame.contents.next(frame.next);
        if (!entry) {
            if (frame.stats)
                frame.stats->setNumberOfDirectoriesEncountedInLastFullScan(m_totalNumberOfDirectoriesEnumerated);
            const FileDescriptor done = std::move(frame.fd);
            stack.pop_back();
            // The folder just finished was an entry of the one below it.
            if (!stack.empty()) {
                walkPath.resize(stack.back().pathLength);
                reachAgain(stack.back(), URL::fileURLWithPath(walkPath), done.get());
                countEntry();
            }
            continue;
        }
        const std::string_view name = entry->name();
        if (rootInDocumentRevisions || name.find(documentRevisionsName) != std::string_view::npos
            || name == netatalkFolderName)
            continue;
        if (display->userHasCanceled())
            continue;
        if (MonotonicClock::now() - lastTick > slowEntryInterval) {
            display->ioIsSlow(true);
            GCDAdditions::cancelPreviousThenPerformBlockWithName(spinnerHideName, spinnerHideDelay,
                                                                 [display] { display->ioIsSlow(false); });
        }
        // A folder found replaced when the walk came back to it has no subfolders to enter.
        if (!entry->isDirectory || !frame.fd.isValid()) {
            countEntry();
            continue;
        }
        const URL item = URL::fileURLWithPath(walkPath).appendingPathComponent(std::string(name));
        if (item.path().size() >= PATH_MAX) {
            reportNotCleaned(item.path(), Error::posix(ENAMETOOLONG), false);
        } else {
            // Opened first: the volume, and so the ignore tests and the record, follow from the
            // folder opened; an ignored one is closed again. One that cannot be opened is placed
            // as its name shows it.
            std::optional<Error> failure;
            std::optional<ConfinedTree::Folder> folder = openSubfolder(frame.fd.get(), name, failure);
            std::optional<std::uint64_t> folderMount;
            bool mountRoot = false;
            if (folder) {
                if (const std::optional<FolderMount> mount = folderMountFd(folder->fd.get())) {
                    folderMount = mount->mount;
                    mountRoot = mount->isMountRoot;
                }
            }
            const bool otherMount = folder ? !folderMount || !frame.mount || *folderMount != *frame.mount
                                           : isMountRootAt(frame.fd.get(), std::string(name));
            const std::shared_ptr<WalkVolume> volume = otherMount ? WalkVolume::read(item.path()) : frame.volume;
            // Another volume places the path anew; within one, the folder's path carries on.
            const PathLists::Progress itemLists =
                otherMount ? lists.progressOf(item.path(), volume->location)
                           : lists.descend(walkPath, frame.lists, item.path(), volume->location);
            std::optional<TWVolumeInfo> info;
            if (shouldIgnoreVolume(item, true, *volume, lists, itemLists, info)) {
                SystemLog::post("Ignore " + item.path());
            } else {
                const std::size_t depth = stack.size();
                if (folder) {
                    enter(item, std::move(*folder), volume, itemLists, true, info, otherMount || mountRoot,
                          folderMount);
                } else {
                    reportNotCleaned(item.path(), *failure, false);
                    if (TarnwickStore::sharedInstance().detailedLoggingEnabled())
                        Logger::shared().log(item.path());
                }
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
