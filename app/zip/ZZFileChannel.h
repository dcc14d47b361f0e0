#pragma once

#include <optional>
#include <string>
#include <sys/stat.h>

#include "ZZChannel.h"

// An archive in a file. The path is resolved through symbolic links first, so a
// link keeps pointing at the rewritten archive. A rewrite is committed by
// renaming a complete, synced file from the same folder over the archive, so
// the original stays whole until the new one is durable.
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

private:
    ZZFileChannel(std::string URL, std::string path, bool temporary);

    bool copyOwnershipAndAttributes(int temporaryDescriptor, const struct stat &original, Error *error) const;

    std::string m_URL;
    // The archive's own file, symbolic links resolved.
    std::string m_path;
    bool m_isTemporary = false;
    bool m_isCommitted = false;
    // The file as it was when last read; a rewrite refuses to replace a file
    // that changed since.
    std::optional<struct stat> m_loadedStatus;
};
