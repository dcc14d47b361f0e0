#include "XEngine.h"

#include <algorithm>
#include <dirent.h>
#include <map>
#include <utility>

#include "ChangedFolders.h"
#include "DirectoryRecords.h"
#include "FileIdentity.h"
#include "LocalizedString.h"
#include "Logger.h"
#include "MountRoot.h"
#include "WalkVolume.h"
#include "XProgressProtocol.h"
#include "XTWStore.h"

namespace
{
// The folder's own entries, and the error that ended the listing early (0 for none). A batch
// does not go below its folders, so their subfolders are not asked whether they are mount
// points (a folder removal asks that itself).
FolderContents listChangedFolder(int folderFd, std::uint8_t *buffer, std::size_t size, int &error)
{
    FolderContents contents;
    error = DirectoryRecords::read(folderFd, buffer, size, [&contents](std::string_view name, unsigned char type) {
        contents.add(name, type == DT_DIR, type == DT_REG);
    });
    return contents;
}
}

// What one batch reads once and shares among its folders: the white list and the record
// paths, the facts of each root's volume and of any other mount a folder lies on, the record of
// each group of folders governed by the same records on one volume, and one listing buffer.
struct XEngine::Batch
{
    WalkContext context = WalkContext::current();
    // The root being cleaned: its mount and its volume.
    std::uint64_t rootMount = 0;
    std::shared_ptr<WalkVolume> rootVolume;
    // Mounts other than their root's that folders turned out to lie on.
    std::map<std::uint64_t, std::shared_ptr<WalkVolume>> otherVolumes;
    // Keyed by the volume, each kept for the length of the batch (so no address is reused).
    std::map<std::pair<const WalkVolume *, std::vector<bool>>, std::shared_ptr<const CleaningChoices>> records;
    std::vector<std::shared_ptr<WalkVolume>> rootVolumes;
    std::unique_ptr<std::uint8_t[]> buffer{new std::uint8_t[DirectoryIterator::attrBufferSize]};

    std::shared_ptr<WalkVolume> otherVolume(std::uint64_t mount, const std::string &path)
    {
        std::shared_ptr<WalkVolume> &volume = otherVolumes[mount];
        if (!volume)
            volume = WalkVolume::read(path);
        return volume;
    }

    // Two folders of one volume begun by the same record paths have the same record (the
    // store matches records by the volume's key and by path prefix). A folder the store finds
    // nothing for (it may have gone meanwhile) decides nothing for the others.
    std::shared_ptr<const CleaningChoices> recordOf(const URL &dir, const WalkVolume &volume)
    {
        auto key = std::pair(&volume, context.recordsGoverning(comparableRecordPath(dir.path())));
        if (const auto known = records.find(key); known != records.end())
            return known->second;
        const std::optional<XFSDiskOrDirectory> details = XTWStore::shared().detailsForURL(dir, true, true);
        if (!details)
            return nullptr;
        auto record = std::make_shared<const CleaningChoices>(CleaningChoices::of(*details));
        records.emplace(std::move(key), record);
        return record;
    }
};

void XEngine::cleanOnThread(const std::vector<std::string> &paths, const std::vector<WatchedRoot> &roots,
                            const std::function<void()> &rootReplaced)
{
    {
        const std::lock_guard run(m_runMutex);
        Batch batch;
        // Counted in one hop once the batch is done, not folder by folder.
        m_metadataRemover.holdStatistics();
        std::vector<std::string> rootPaths;
        for (const WatchedRoot &root : roots)
            rootPaths.push_back(root.path);
        for (const ChangedFolders &changed : ChangedFolders::byRoot(paths, rootPaths)) {
            const WatchedRoot &root =
                *std::find_if(roots.begin(), roots.end(), [&](const WatchedRoot &known) { return known.path == changed.root; });
            // The watched root was resolved when it was chosen: no link on its way is followed.
            const TreeScope scope(*this, URL::fileURLWithPath(root.path));
            if (!scope.isOpen()) {
                if (rootReplaced)
                    rootReplaced();
                continue;
            }
            // The folders were named from the root's path, which may name another folder now (a
            // folder above it renamed, another moved in): nothing is cleaned through it then.
            if (FileIdentity::of(m_metadataRemover.tree()->rootFd()) != root.identity) {
                reportNotCleaned(root.path, Error::posix(ESTALE, LSFK(WatchedRoot::movedOrReplacedReason)), true);
                if (rootReplaced)
                    rootReplaced();
                continue;
            }
            const std::optional<FolderMount> rootMount = folderMountFd(m_metadataRemover.tree()->rootFd());
            if (!rootMount)
                continue;
            batch.rootMount = rootMount->mount;
            batch.rootVolume = batch.rootVolumes.emplace_back(WalkVolume::read(root.path));
            for (const std::string &folder : changed.folders)
                cleanChangedFolder(URL::fileURLWithPath(folder), batch);
        }
        m_metadataRemover.setVolumeRoot(std::nullopt);
        m_metadataRemover.postHeldStatistics();
    }
    complete();
}

// The per-directory clean of one changed folder: judged by its path on the root's volume,
// opened beneath the root, judged again should it lie on another mount, listed once and
// cleaned with what the listing holds.
void XEngine::cleanChangedFolder(const URL &dir, Batch &batch)
{
    std::shared_ptr<WalkVolume> volume = batch.rootVolume;
    std::optional<TWVolumeInfo> info;
    std::shared_ptr<const CleaningChoices> record;
    const auto governs = [&] {
        info.reset();
        // A changed folder is named as a folder: a package is known by its name.
        if (shouldIgnoreVolume(dir, true, *volume, batch.context, info)) {
            if (info && !info->isRW())
                Logger::shared().log(dir.lastPathComponent() + " is read only. Will ignore.");
            return false;
        }
        record = info ? batch.recordOf(dir, *volume) : nullptr;
        return record != nullptr;
    };
    if (!governs())
        return;
    const std::optional<ConfinedTree::Folder> folder = openFolderOfTree(dir);
    if (!folder)
        return;
    const int fd = folder->fd.get();
    const std::optional<FolderMount> mount = folderMountFd(fd);
    if (!mount)
        return;
    if (mount->mount != batch.rootMount) {
        volume = batch.otherVolume(mount->mount, dir.path());
        if (!governs())
            return;
    }
    FolderContents contents;
    if (folder->listable) {
        // What was listed before a failing listing is still cleaned; the folder is said.
        int error = 0;
        contents = listChangedFolder(fd, batch.buffer.get(), DirectoryIterator::attrBufferSize, error);
        if (error != 0)
            reportNotCleaned(dir.path(), Error::posix(error), false);
    }
    m_metadataRemover.setVolumeRoot(volume->mountPoint);
    progress()->placeFolder(dir.path(), volume->location);
    cleanDirectory(dir, fd, *info, *record, folder->listable ? &contents : nullptr, mount->isMountRoot,
                   &volume->keepsAttributes);
}

void XEngine::cleanOnEngineQueue(const std::vector<std::string> &paths, const std::vector<WatchedRoot> &roots,
                                 std::function<void()> rootReplaced)
{
    runOnEngineQueue([engine = shared_from_this(), paths, roots, rootReplaced = std::move(rootReplaced)] {
        engine->cleanOnThread(paths, roots, rootReplaced);
    });
}
