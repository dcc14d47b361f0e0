#include "XEngine.h"

#include <dirent.h>
#include <map>
#include <utility>

#include "ChangedFolders.h"
#include "DirectoryRecords.h"
#include "Logger.h"
#include "MountRoot.h"
#include "WalkVolume.h"
#include "XProgressProtocol.h"
#include "XTWStore.h"

namespace
{
// The folder's own entries. A batch does not go below its folders, so their subfolders are
// not asked whether they are mount points (a folder removal asks that itself).
FolderContents listChangedFolder(int folderFd, std::uint8_t *buffer, std::size_t size)
{
    FolderContents contents;
    DirectoryRecords::read(folderFd, buffer, size, [&contents](std::string_view name, unsigned char type) {
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

void XEngine::cleanOnThread(const std::vector<std::string> &paths, const std::vector<std::string> &roots)
{
    {
        const std::lock_guard run(m_runMutex);
        Batch batch;
        // Counted in one hop once the batch is done, not folder by folder.
        m_metadataRemover.holdStatistics();
        for (const ChangedFolders &changed : ChangedFolders::byRoot(paths, roots)) {
            // The watched root was resolved when it was chosen: no link on its way is followed.
            const TreeScope scope(*this, URL::fileURLWithPath(changed.root), RootNaming::resolved);
            if (!scope.isOpen())
                continue;
            const std::optional<FolderMount> rootMount = folderMountFd(m_metadataRemover.tree()->rootFd());
            if (!rootMount)
                continue;
            batch.rootMount = rootMount->mount;
            batch.rootVolume = batch.rootVolumes.emplace_back(WalkVolume::read(changed.root));
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
    if (folder->listable)
        contents = listChangedFolder(fd, batch.buffer.get(), DirectoryIterator::attrBufferSize);
    m_metadataRemover.setVolumeRoot(volume->mountPoint);
    progress()->placeFolder(dir.path(), volume->location);
    cleanDirectory(dir, fd, *info, *record, folder->listable ? &contents : nullptr, mount->isMountRoot,
                   &volume->keepsAttributes);
}

void XEngine::cleanOnEngineQueue(const std::vector<std::string> &paths, const std::vector<std::string> &roots)
{
    runOnEngineQueue([engine = shared_from_this(), paths, roots] { engine->cleanOnThread(paths, roots); });
}
