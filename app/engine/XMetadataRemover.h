#pragma once

#include <memory>
#include <string_view>
#include <optional>
#include <string>
#include <vector>

#include "ConfinedTree.h"
#include "Error.h"
#include "FileDescriptor.h"
#include "OwnChanges.h"
#include "StatisticsManager.h"
#include "URL.h"
#include "WalkVolume.h"

class XMetadataRemoverOwner;
class XProgressProtocol;

// The deletion primitives of one run: one file, one folder tree, the entries of a directory
// that match name patterns, and the AppleDouble "._" files of a directory after the unwanted
// attributes of their data files are stripped. Every deletion is reported to the owner's
// current progress and counted in the statistics. Removal works relative to an open
// directory, never follows a symbolic link and never enters another file system. In a
// simulation nothing is removed, attributes included; what would go is logged and reported.
// Without a living owner nothing is done.
class XMetadataRemover
{
public:
    enum class BuiltInDeletable {
        dsStore = 0,
        desktopini = 1,
        Desktopini = 2,
        Thumbsdb = 3,
        VolumeIconicns = 4,
        apdisk = 5,
        icon = 6,
        appleDouble = 7,
        eaDir = 8,
    };

    enum class CanRemoveAppleDoubleFileResult { keep = 0, remove = 1 };
    enum class StripUnwantedAttrsResult { keep = 0, remove = 1 };

    // Nothing for a number outside 0...8.
    static std::optional<BuiltInDeletable> builtInDeletable(int rawValue);
    // The file or folder name the case stands for.
    static std::string nameOf(BuiltInDeletable deletable);
    static std::vector<BuiltInDeletable> allValues();
    // The names, in raw order.
    static std::vector<std::string> allRawValues();

    // Counts in the shared statistics unless given others.
    explicit XMetadataRemover(std::shared_ptr<StatisticsManager> statistics = nullptr);

    void setOwner(std::weak_ptr<XMetadataRemoverOwner> owner);
    bool isASimulation() const { return m_isASimulation; }
    void setIsASimulation(bool simulation) { m_isASimulation = simulation; }

    // The tree a run cleans: every item is reached through the tree's root descriptor, never
    // through a symbolic link and never outside the tree; an item the tree cannot reach is
    // reported as a failure. Without a tree nothing is reached (EXDEV).
    void setTree(std::shared_ptr<const ConfinedTree> tree);
    const std::shared_ptr<const ConfinedTree> &tree() const { return m_tree; }
    // The folder whose clean begins, already open (the descriptor stays the caller's): its
    // items are reached through it, and the entries the caller listed, when given, serve the
    // pattern and "._" passes instead of a listing of their own.
    // Whether the volume keeps attributes itself is asked once: in `volumeKeepsAttributes`, when
    // given (a walk keeps it per volume), else once for the folder.
    void enterFolder(const std::string &path, int fd, FolderContents *entries,
                     std::optional<bool> *volumeKeepsAttributes = nullptr);
    // Ends the folder's clean; answers the names of the entries removed from it.
    std::vector<std::string> leaveFolder();
    // From now on the deletions of the folders left are kept, not counted, until
    // postHeldStatistics counts them all in one hop (a batch of folders is one update).
    void holdStatistics() { m_holdingStatistics = true; }
    void postHeldStatistics();
    // Deletion statistics count against this volume instead of one looked up per item.
    void setVolumeRoot(std::optional<URL> volumeRoot);

    void deleteFile(const URL &url);
    // Counts the tree as one item, and only when a folder was there and is gone.
    void deleteDirectory(const URL &url);
    // Removes the item, a folder with everything in it, reached like every other item; a
    // folder that is itself a mount point stays. Throws the first failure as an Error.
    void removeItem(const URL &url);
    // True when the folder was removed; false when there was no folder to remove (nothing
    // there, not a directory, a simulation). Throws the first failure as an Error.
    bool deleteDirectoryLow(const URL &url);
    // fnmatch with FNM_NOESCAPE | FNM_PATHNAME | FNM_LEADING_DIR; files go before folders.
    void removeBlackListFiles(const std::vector<std::string> &patterns, const URL &directory);
    // Removes the stale temporary copies a killed rewrite of ours left in the folder.
    void removeStaleTemporaryFiles(const URL &directory);
    CanRemoveAppleDoubleFileResult removeAppleDoubleFiles(const URL &directory, bool keepVolumeAttrs,
                                                          bool keepSecurityData, bool keepTags, bool keepAliasData,
                                                          bool keepColorLabels, bool keepCustomIcons);
    CanRemoveAppleDoubleFileResult canRemoveAppleDoubleFile(const URL &fileURL, bool securityData, bool tags,
                                                            bool aliasData, bool colorLabels, bool customIcons,
                                                            const std::string &neverDeleteExtensions,
                                                            const std::string &neverDeleteTypes);
    StripUnwantedAttrsResult stripUnwantedAttrs(const URL &fileURL, bool keepFinderInfo, bool keepSecurityData,
                                                bool keepTags, bool keepCustomIconsResources);

private:
    std::shared_ptr<XProgressProtocol> progress() const;
    void reportFailure(const URL &url, const Error &error) const;
    StatisticsManager &statistics() const;
    void reportDeletion(XProgressProtocol &progress, const URL &url,
                        const std::optional<StatisticsManager::DeletionInformation> &information);

    // An item's folder, open: the entered folder, or one opened for the call.
    struct Folder
    {
        FileDescriptor owned;
        int fd = -1;
        bool entered = false;
    };
    Folder folderNamed(const std::string &path);
    Folder folderOf(const URL &item) { return folderNamed(item.deletingLastPathComponent().path()); }
    // The folder's entries: those the caller listed for the entered folder, else the folder's
    // listing read now into `listed`.
    FolderContents &contentsOf(const Folder &folder, FolderContents &listed) const;
    std::optional<bool> folderKeepsAttributes(const Folder &folder);
    // An entry of the folder's contents that a deletion takes.
    struct Entry
    {
        const FolderContents *contents;
        FolderPosition position;
    };
    void deleteFileAt(const URL &url, const std::optional<Entry> &entry);
    void deleteDirectoryAt(const URL &url, const std::optional<Entry> &entry);
    bool deleteDirectoryLowAt(const URL &url, const std::optional<Entry> &entry);
    void noteRemoved(const Folder &folder, const std::string &name, const std::optional<Entry> &entry = std::nullopt);
    void countDeletion(const std::optional<StatisticsManager::DeletionInformation> &information);
    std::optional<StatisticsManager::DeletionInformation> deletionInformation(const URL &item);

    std::weak_ptr<XMetadataRemoverOwner> m_owner;
    bool m_isASimulation = false;
    std::shared_ptr<StatisticsManager> m_statistics;
    std::shared_ptr<const ConfinedTree> m_tree;
    std::optional<URL> m_volumeRoot;
    // The folder being cleaned.
    std::string m_folderPath;
    int m_folderFd = -1;
    FolderContents *m_folderEntries = nullptr;
    // Removed entries of the folder that are not set removed in its contents.
    std::vector<std::string> m_removedFromFolder;
    std::optional<bool> m_folderKeepsAttributes;
    std::optional<bool> *m_keepsAttributes = &m_folderKeepsAttributes;
    std::optional<std::string> m_folderDisplayName;
    // The notes of our own changes name the folder by the path the kernel gave once.
    std::optional<OwnChanges::FolderBeingChanged> m_folderBeingChanged;
    // The entered folder's deletions, counted in the statistics in one go when it is left
    // (or, while they are held, when they are posted).
    std::vector<StatisticsManager::CountedDeletions> m_folderStatistics;
    bool m_holdingStatistics = false;
};
