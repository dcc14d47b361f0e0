#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Error.h"
#include "ZZBytes.h"
#include "ZZChannelOutput.h"

// The storage an archive is read from and rewritten into.
class ZZChannel
{
public:
    virtual ~ZZChannel() = default;

    // A fresh, empty channel beside this one, for building the rewritten archive.
    virtual std::unique_ptr<ZZChannel> temporaryChannel(Error *error) = 0;
    // Puts the temporary channel's contents in place of this channel's.
    virtual bool replaceWithChannel(ZZChannel &channel, Error *error) = 0;
    virtual void removeAsTemporary() = 0;
    virtual std::optional<ZZBytes> newInput(Error *error) = 0;
    virtual std::unique_ptr<ZZChannelOutput> newOutput(Error *error) = 0;
    // The file's path; empty for a channel in memory.
    virtual std::string URL() const = 0;
};
