#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "FileDescriptor.h"

#include "ZZChannel.h"

// An archive in a file. The path is resolved through symbolic links first, so a
// link keeps pointing at the rewritten archive; its folder is then opened once,
// and the archive, its temporary copy and the rename between them are all
// reached through that descriptor without following a link, so a folder swapped
// meanwhile can neither redirect the rewrite nor let it leave the folder. The
// temporary copy is created exclusively and then used only through the descriptor
// its creation gave, never opened again by name: whatever another program puts
// under its name (a FIFO, a link, a file of its own) can neither hang the rewrite
// nor take its bytes, and is never put in the archive's place. A rewrite is
// committed by putting that complete, synced file in the archive's place, so the
// original stays whole until the new one is durable, and only while the archive is
// still the one that was read.
class ZZFileChannel : public ZZChannel
{
public:
    explicit ZZFileChannel(std::string URL);

    std::unique_ptr<ZZChannel> temporaryChannel(Error *error) override;
    bool replaceWithChannel(ZZChannel &channel, Error *error) override;
    void removeAsTemporary() override;
    std::optional<ZZBytes> newInput(Error *error) override;
    std::unique_ptr<ZZChannelOutput> newOutput(Error *error) override;
    std::string URL() const override;

    // For tests: runs just before a rewrite is committed, after the archive was checked.
    static void setBeforeCommitForTesting(std::function<void()> hook);
    // For tests: runs as soon as a temporary copy has been created, with its path.
    static void setAfterTemporaryCopyCreatedForTesting(std::function<void(const std::string &path)> hook);
    // For tests: commit as where the file system cannot exchange two names (FAT, exFAT, shares).
    static void setExchangeAllowedForTesting(bool allowed);

private:
    ZZFileChannel(std::string URL, std::string path, std::shared_ptr<const FileDescriptor> folder, std::string name,
                  FileDescriptor copy, const struct stat &copyStatus);

    // The folder's descriptor, or false with the error when it could not be opened.
    bool folderFd(int &fd, Error *error) const;
    // Whether the name in the folder names the file this temporary copy was created as.
    bool copyIsAt(const std::string &name) const;

    // Puts the synced temporary file in the archive's place if the archive is still the one read.
    bool commit(ZZFileChannel &temporary, Error *error);
    // Tells the file-system watcher that the rename about to be made is Tarnwick's own.
    void noteCommit(unsigned renameFlags) const;
    bool copyOwnershipAndAttributes(int temporaryDescriptor, const struct stat &original, Error *error) const;

    std::string m_URL;
    // The archive's own file, symbolic links resolved.
    std::string m_path;
    std::shared_ptr<const FileDescriptor> m_folder;
    int m_folderError = 0;
    std::string m_name;
    bool m_isTemporary = false;
    bool m_isCommitted = false;
    // A temporary copy's file, open from its creation (for writing until it is synced, then
    // through a handle that cannot write), and which file that is.
    FileDescriptor m_copy;
    dev_t m_copyDevice = 0;
    ino_t m_copyInode = 0;
    // The file as it was when last read; a rewrite refuses to replace a file
    // that changed since.
    std::optional<struct stat> m_loadedStatus;
};
