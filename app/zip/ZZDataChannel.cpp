#include "ZZDataChannel.h"

#include "ZZDataChannelOutput.h"
#include "ZZError.h"

ZZDataChannel::ZZDataChannel(Data data)
    : m_storage(std::make_shared<Storage>(Storage{std::make_shared<Data>(std::move(data))}))
{
}

std::string ZZDataChannel::URL() const
{
    return {};
}

const Data &ZZDataChannel::data() const
{
    return *m_storage->allData;
}

std::unique_ptr<ZZChannel> ZZDataChannel::temporaryChannel(Error *)
{
    return std::make_unique<ZZDataChannel>();
}

bool ZZDataChannel::replaceWithChannel(ZZChannel &channel, Error *error)
{
    auto *other = dynamic_cast<ZZDataChannel *>(&channel);
    if (!other)
        return zzFail(error, Error::posix(EINVAL));
    m_storage->allData = other->m_storage->allData;
    return true;
}

void ZZDataChannel::removeAsTemporary()
{
    m_storage->allData = std::make_shared<Data>();
}

std::optional<ZZBytes> ZZDataChannel::newInput(Error *error)
{
    const std::shared_ptr<Data> &buffer = m_storage->allData;
    if (buffer->empty()) {
        zzFail(error, Error(ZZCocoaErrorDomain, ZZFileReadNoSuchFileError));
        return std::nullopt;
    }
    ZZBytes bytes;
    bytes.data = buffer->data();
    bytes.size = buffer->size();
    bytes.keeper = buffer;
    return bytes;
}

std::unique_ptr<ZZChannelOutput> ZZDataChannel::newOutput(Error *)
{
    return std::make_unique<ZZDataChannelOutput>(m_storage);
}
