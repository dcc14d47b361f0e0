#pragma once

#include <memory>

#include "Value.h"
#include "ZZChannel.h"

// An archive in memory. Inputs handed out share the buffer; an output that
// writes while an input is still held copies the buffer first, so entries
// never point at changed or freed bytes.
class ZZDataChannel : public ZZChannel
{
public:
    explicit ZZDataChannel(Data data = {});

    std::unique_ptr<ZZChannel> temporaryChannel(Error *error) override;
    bool replaceWithChannel(ZZChannel &channel, Error *error) override;
    void removeAsTemporary() override;
    std::optional<ZZBytes> newInput(Error *error) override;
    std::unique_ptr<ZZChannelOutput> newOutput(Error *error) override;
    std::string URL() const override;

    // The buffer as it is now.
    const Data &data() const;

private:
    struct Storage
    {
        std::shared_ptr<Data> allData;
    };
    friend class ZZDataChannelOutput;

    std::shared_ptr<Storage> m_storage;
};
