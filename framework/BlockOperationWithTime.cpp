#include "BlockOperationWithTime.h"

BlockOperationWithTime::BlockOperationWithTime(Block block)
    : BlockOperation(std::move(block)), m_addedAt(Date::now()), m_addedAtMonotonic(MonotonicClock::now())
{
}

std::shared_ptr<BlockOperationWithTime> BlockOperationWithTime::blockOperationWithBlock(Block block)
{
    return std::make_shared<BlockOperationWithTime>(std::move(block));
}
