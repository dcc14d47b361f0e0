#pragma once

#include <atomic>
#include <cstdint>

#include "TallowExport.h"

// A counting semaphore used as a busy flag: whoever takes it without waiting
// holds it until it calls nolongerBusy().
class TALLOW_EXPORT Semaphore
{
public:
    explicit Semaphore(std::int64_t value);
    Semaphore(const Semaphore &) = delete;
    Semaphore &operator=(const Semaphore &) = delete;

    // A semaphore with the value 1: free.
    static Semaphore SemaphoreNotBusy();

    // Both try to take the semaphore without waiting; when it was free the caller
    // now holds it. isBusy is true when it could not be taken, isIdle when it was.
    bool isBusy();
    bool isIdle();

    // Gives the semaphore back.
    void nolongerBusy();

private:
    bool tryTake();

    std::atomic<std::int64_t> m_value;
};
