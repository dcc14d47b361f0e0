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
// meanwhile can neither redirect the rewrite nor let it leave the folder. A
// rewrite is committed by putting a complete, synced file from the same folder in
// the archive's place, so the original stays whole until the new one is durable,
// and only while the archive is still the one that was read.
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
    // For tests: commit as where the file system cannot exchange two names (FAT, exFAT, shares).
    static void setExchangeAllowedForTesting(bool allowed);

private:
    ZZFileChannel(std::string URL, std::string path, std::shared_ptr<const FileDescriptor> folder, std::string name);

    // The folder's descriptor, or false with the error when it could not be opened.
    bool folderFd(int &fd, Error *error) const;

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
    // The file as it was when last read; a rewrite refuses to replace a file
    // that changed since.
    std::optional<struct stat> m_loadedStatus;
};
