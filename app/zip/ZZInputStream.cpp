#include "ZZInputStream.h"

bool ZZInputStream::getBuffer(std::uint8_t **, std::uint64_t *) const
{
    return false;
}

bool ZZInputStream::hasBytesAvailable() const
{
    return true;
}
