#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ConfinedTree.h"
#include "DirectoryIterator.h"
#include "MonotonicClock.h"
#include "OperationQueue.h"
#include "PathLists.h"
#include "TWVolumeInfo.h"
#include "URL.h"
#include "VolumeMetaDataStatistics.h"
#include "WatchedRoot.h"
#include "XEngineParent.h"
#include "XFSDiskOrDirectory.h"
#include "XMetadataRemover.h"
#include "XMetadataRemoverOwner.h"

class XProgressProtocol;
struct CleaningChoices;
class FolderContents;
struct VolumeLocation;
struct WalkContext;
struct WalkVolume;

// One cleaning run. Every trigger makes a fresh engine with its five flags, lets it clean one
// or more folders and drops it. An engine is always owned through a shared pointer: the list
// of active engines keeps it alive while its run works on other threads, and a run's own
// thread and a delayed re-clean hold it too.
//
// Every clean reaches the file system in one way: it opens the root the user chose (a
// record's folder or volume, the folder handed over, the watched root a changed folder lies
// in) and reaches every folder below it through that root's descriptor, never through a
// symbolic link (ConfinedTree). A root or folder that cannot be reached so is "Not cleaned",
// with a line in the log; nothing is redirected.
//
// One thread at a time works with the engine's remover: the runs, the batches, the clean of
// all volumes after a mount and the delayed re-clean go to the engine's own serial queue, and
// every clean holds the engine's run lock, also where it runs on its caller's thread (the
// unmount approval).
class XEngine : public XEngineParent,
                public XMetadataRemoverOwner,
                public std::enable_shared_from_this<XEngine>
{
    struct PassKey
    {
    };

public:
    // Makes an engine; it enters the active engines through an operation on the main
    // operation queue, so the main thread sees it there only after the current event.
    static std::shared_ptr<XEngine> make(bool simulation, bool manuallyCleaning, bool unmountAfterClean,
                                         bool isCleaningVolumeBeforeEject, bool scheduledClean);
    static std::shared_ptr<XEngine> newEngineForBackgroundCleaning();
    static std::shared_ptr<XEngine> newEngineForManualCleaning();
    static std::shared_ptr<XEngine> newEngineForScheduledCleaning();
    static std::shared_ptr<XEngine> newEngineForDiskEjectCleaning();

    XEngine(PassKey, bool simulation, bool manuallyCleaning, bool unmountAfterClean,
            bool isCleaningVolumeBeforeEject, bool scheduledClean);
    ~XEngine() override;
    XEngine(const XEngine &) = delete;
    XEngine &operator=(const XEngine &) = delete;

    // Main thread: every engine that has started and not yet finished.
    static const std::vector<std::shared_ptr<XEngine>> &activeEngines();

    std::shared_ptr<XProgressProtocol> progress() const;
    bool simulation() const { return m_simulation; }
    bool manuallyCleaning() const { return m_manuallyCleaning; }
    bool unmountAfterClean() const { return m_unmountAfterClean; }
    bool isCleaningVolumeBeforeEject() const { return m_isCleaningVolumeBeforeEject; }
    bool scheduledClean() const { return m_scheduledClean; }
    std::int64_t totalNumberOfDirectoriesEnumerated() const { return m_totalNumberOfDirectoriesEnumerated.load(); }
    XMetadataRemover &metadataRemover() { return m_metadataRemover; }

    // The progress window has closed, or another clean took it over.
    void progressWindowClosed() override;
    // Leaves the active engines when the progress is silent.
    void complete();
    // Leaves the active engines, through an operation on the main operation queue.
    void removeFromActiveEngineList();

    // The per-directory clean; without a record the store is asked for the one that governs dir.
    // Outside a run's tree, dir is the root of its own.
    void clean(const URL &dir, const std::optional<XFSDiskOrDirectory> &details);
    // The metadata folders and files at the root of a mounted volume.
    void cleanVolume(const URL &root);
    // cleanVolume for every writable mounted volume; nothing for a manual engine.
    void cleanAllVolumesNow();
    // Removes whole folders; simulation removes nothing.
    void deleteFoldersAuthenticatedIfNeeded(const std::vector<URL> &urls);

    // Main thread. Walks each folder and cleans each archive, on the engine's queue, after the
    // tiny delay, while a progress window shows what happens.
    void cleanWithProgressUI(const std::vector<URL> &urls);
    // The walk of one tree, on the caller's thread: each folder cleaned before its contents.
    // False when the tree's root could not be reached ("Not cleaned").
    bool cleanRecursively(const URL &dir);
    // The end of a window or attribute run.
    void cleaningFinished();
    // Each folder's own metadata, no walk, reached beneath the watched root it lies in (a
    // folder under none is not cleaned), as one run: each root opened once, each volume's facts
    // and each record read once, each folder listed once, the statistics counted in one hop.
    // A root whose path no longer reaches the folder watched there (gone, or another folder in
    // its place) cleans nothing and calls rootReplaced, so that the roots are chosen again.
    // Then leaves the active engines when silent.
    void cleanOnThread(const std::vector<std::string> &paths, const std::vector<WatchedRoot> &roots,
                       const std::function<void()> &rootReplaced = {});
    // Cleans the batch on the engine's queue.
    void cleanOnEngineQueue(const std::vector<std::string> &paths, const std::vector<WatchedRoot> &roots,
                            std::function<void()> rootReplaced = {});
    // Main thread. May ask for confirmation; the run starts after the tiny delay.
    void cleanXAttrsWithProgressUI(const std::vector<URL> &urls);
    // Strips the extended attributes of a file, or of the files directly inside a folder.
    // False when the item's folder could not be reached ("Not cleaned").
    bool removeAttributes(const URL &url);
    // Removes the metadata entries of one zip archive; nothing in a simulation.
    void cleanArchive(const URL &url);
    // For a walk of a disk root: the volume's statistics, with the progress bar set from them.
    std::shared_ptr<VolumeMetaDataStatistics> setProgressBarAttributesBasedOnURL(const URL &url);

    // True when the item must not be cleaned. Hands back the volume facts it read; leaves
    // volumeInfo alone when none could be read.
    static bool shouldIgnoreVolume(const URL &url, std::optional<TWVolumeInfo> &volumeInfo);
    // The built-in ignore list and the user's white list.
    static bool isInIgnoreList(const URL &url);
    // The user's white list alone.
    static bool isInWhiteList(const std::string &path);

    // The entry points through which everything outside the engine starts a clean.
    static void cleanInResponseToUserRequest(const std::vector<URL> &urls, std::optional<bool> shiftKeyWasDown);
    static void cleanScheduled(const std::vector<URL> &urls);
    // Returns at once: a background engine cleans every volume's root on its own queue and
    // then leaves the active engines.
    static void cleanAllVolumes();
    static bool warningIfAnyVolumesAreReadOnly(const std::vector<URL> &urls);
    static void warnIfTryingToDeleteDotAppleDoubleFromAFP(const std::vector<URL> &urls);

    std::shared_ptr<XProgressProtocol> currentProgress() const override;

    // The delay of the re-clean of a volume whose folder keeps coming back (60 seconds).
    static void setRecleanDelayForTesting(std::optional<float> seconds);

private:
    struct WalkFrame;
    struct Batch;

    // The one way into the file system: puts the remover on the tree of the clean for its
    // length, unless a run already did. The root is a path resolved already (by the entry point
    // that took it from the user, from a record, the mount table or the watcher): no link on it
    // is followed, so a component swapped for a link since gives "Not cleaned", never another
    // folder.
    class TreeScope
    {
    public:
        TreeScope(XEngine &engine, const URL &root);
        ~TreeScope();
        TreeScope(const TreeScope &) = delete;
        TreeScope &operator=(const TreeScope &) = delete;

        bool isOpen() const { return m_open; }

    private:
        XMetadataRemover &m_remover;
        bool m_owned = false;
        bool m_open = true;
    };
    // A folder of the remover's tree, open; nothing (with a line in the log unless it
    // vanished) when the tree cannot reach it.
    std::optional<ConfinedTree::Folder> openFolderOfTree(const URL &dir);
    // "Not cleaned: PATH: REASON" in the log; a root the run was given also decides the run's
    // final line.
    void reportNotCleaned(const std::string &path, const Error &error, bool isRoot);

    // The path tests with what a walk already knows about the volume, white list and records.
    // An item listed as a directory (never a link) is not examined again.
    static bool shouldIgnoreVolume(const URL &url, bool listedAsDirectory, const WalkVolume &volume,
                                   const WalkContext &context, std::optional<TWVolumeInfo> &volumeInfo);
    // The same for a folder of a walk, with the lists carried down to it from its folder.
    static bool shouldIgnoreVolume(const URL &url, bool listedAsDirectory, const WalkVolume &volume,
                                   const PathLists &lists, const PathLists::Progress &listsProgress,
                                   std::optional<TWVolumeInfo> &volumeInfo);
    // The tests that come before the lists: an answer, or nothing when the lists decide.
    static std::optional<bool> volumeDecides(const URL &url, bool listedAsDirectory, const WalkVolume &volume,
                                             std::optional<TWVolumeInfo> &volumeInfo);
    static bool isInIgnoreList(const URL &url, bool isDirectory, const VolumeLocation &location,
                               const std::vector<std::string> &whiteList);
    // Steps of the per-directory clean that follow the choice of the record.
    // With the folder's contents, only the names among them are asked for, and the entries the
    // clean may have removed are marked.
    // Works through the open folder; answers the names of the entries it removed.
    std::vector<std::string> cleanDirectory(const URL &dir, int folderFd, const TWVolumeInfo &info,
                                            const CleaningChoices &choices, FolderContents *contents,
                                            bool mayBeMountRoot, std::optional<bool> *volumeKeepsAttributes = nullptr);
    void cleanEnteredDirectory(const URL &dir, const TWVolumeInfo &info, const CleaningChoices &choices,
                               FolderContents *contents, bool mayBeMountRoot);
    // The per-directory clean of a walk, given the folder's contents.
    std::vector<std::string> cleanInWalk(const URL &dir, int folderFd, WalkVolume &volume, const WalkContext &context,
                                         const PathLists &lists, const PathLists::Progress &listsProgress,
                                         bool knownNotIgnored, const std::optional<TWVolumeInfo> &knownInfo,
                                         FolderContents *contents, bool mayBeMountRoot);
    // A subfolder of a folder the walk holds open; nothing, with the reason in `failure`, when
    // it cannot be reached from there.
    static std::optional<ConfinedTree::Folder> openSubfolder(int parentFd, std::string_view name,
                                                             std::optional<Error> &failure);
    // The folder the walk comes back to, open again when the walk had let it go.
    void reachAgain(WalkFrame &frame, const URL &dir, int subfolderFd);
    // The choices of the record that governs the folder; nothing without one.
    std::shared_ptr<const CleaningChoices> recordInWalk(const URL &dir, WalkVolume &volume,
                                                        const WalkContext &context);
    // One changed folder of a batch, reached beneath the batch's current root.
    void cleanChangedFolder(const URL &dir, Batch &batch);
    // One hop to the main thread per volume at a time: a hop still waiting sets the same date.
    void updateLastCleanDate(const URL &dir, const TWVolumeInfo &info);

    void addToActiveEngineList();
    // Before the run: the root at that path must be this folder when it is opened.
    void pinRoot(const std::string &path, const FileIdentity &identity);
    void setProgress(std::shared_ptr<XProgressProtocol> progress);
    bool optionEnabled(const XFSDiskOrDirectory &details, const char *key) const;
    std::vector<URL> filterRootFolderCandidates(const std::vector<URL> &candidates, const URL &root);
    void queueReclean(const URL &folder, const URL &root);
    // Main thread: a window for the run's first item, when the interface can give one.
    void openProgressDisplay(const URL &first);
    void runItems(const std::vector<URL> &urls);
    void runAttributes(const std::vector<URL> &urls);
    void cleanItemOfRun(const URL &url);
    void requestUnmount(const std::vector<URL> &urls);
    void removeAttributesOfItem(int folderFd, const URL &item);
    void countExamined(std::int64_t total);
    // Runs the work on the engine's serial queue, after the work queued before it.
    void runOnEngineQueue(std::function<void()> work);

    // Held by every clean: one thread at a time uses the remover, its tree and its folder.
    std::recursive_mutex m_runMutex;
    OperationQueue m_queue{"XEngine run"};
    // Roots known by the folder they must be when the run opens them (set before the run
    // starts): a folder taken from the user, or a folder the watcher keeps.
    std::map<std::string, FileIdentity> m_pinnedRoots;
    // The first root of the run that was not cleaned, as the log names it.
    std::optional<std::string> m_rootNotCleaned;
    mutable std::mutex m_progressMutex;
    std::shared_ptr<XProgressProtocol> m_progress;
    const bool m_simulation;
    const bool m_manuallyCleaning;
    const bool m_unmountAfterClean;
    const bool m_isCleaningVolumeBeforeEject;
    const bool m_scheduledClean;
    DirectoryIterator m_iterator;
    XMetadataRemover m_metadataRemover;
    std::atomic<std::int64_t> m_totalNumberOfDirectoriesEnumerated{0};
    std::mutex m_lastCleanDateMutex;
    std::set<std::string> m_lastCleanDatePending;
    std::map<std::string, MonotonicClock::TimePoint> m_lastCleanDateSent;
};
