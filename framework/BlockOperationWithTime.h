#pragma once

#include "MonotonicClock.h"
#include "Operation.h"
#include "TallowExport.h"
#include "Value.h"

// A block operation that remembers when it was made: `addedAt` on the wall
// clock for display, and a monotonic moment that ages are measured from.
class TALLOW_EXPORT BlockOperationWithTime : public BlockOperation
{
public:
    explicit BlockOperationWithTime(Block block);
    static std::shared_ptr<BlockOperationWithTime> blockOperationWithBlock(Block block);

    Date addedAt() const { return m_addedAt; }
    void setAddedAt(Date date) { m_addedAt = date; }
    MonotonicClock::TimePoint addedAtMonotonic() const { return m_addedAtMonotonic; }

private:
    Date m_addedAt;
    MonotonicClock::TimePoint m_addedAtMonotonic;
};
