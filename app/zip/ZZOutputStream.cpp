#include "ZZOutputStream.h"

bool ZZOutputStream::hasSpaceAvailable() const
{
    return true;
}
