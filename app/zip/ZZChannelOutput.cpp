#include "ZZChannelOutput.h"

bool ZZChannelOutput::writeData(const void *data, std::uint64_t length, Error *error)
{
    return writeData(ZZBytes::borrowed(data, length), error);
}
