#pragma once

#include <memory>

#include "ZZChannelOutput.h"
#include "ZZDataChannel.h"

// Writes into a memory channel's buffer; it never fails.
class ZZDataChannelOutput : public ZZChannelOutput
{
public:
    explicit ZZDataChannelOutput(std::shared_ptr<ZZDataChannel::Storage> storage);

    std::uint64_t offset() const override;
    bool seekToOffset(std::uint64_t offset, Error *error) override;
    using ZZChannelOutput::writeData;
    bool writeData(const ZZBytes &data, Error *error) override;
    bool truncateAtOffset(std::uint64_t offset, Error *error) override;
    bool close(Error *error) override;

private:
    // The buffer, copied first when an input still shares it.
    Data &ownBuffer();

    std::shared_ptr<ZZDataChannel::Storage> m_allData;
    std::uint64_t m_offset = 0;
};
