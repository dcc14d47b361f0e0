#include "Semaphore.h"

Semaphore::Semaphore(std::int64_t value)
    : m_value(value)
{
}

Semaphore Semaphore::SemaphoreNotBusy()
{
    return Semaphore(1);
}

bool Semaphore::isBusy()
{
    return !tryTake();
}

bool Semaphore::isIdle()
{
    return tryTake();
}

void Semaphore::nolongerBusy()
{
    m_value.fetch_add(1, std::memory_order_release);
}

// A compare-and-swap loop: unlike std::counting_semaphore::try_acquire it never
// fails while the value is positive.
bool Semaphore::tryTake()
{
    std::int64_t value = m_value.load(std::memory_order_relaxed);
    while (value > 0) {
        if (m_value.compare_exchange_weak(value, value - 1, std::memory_order_acquire, std::memory_order_relaxed))
            return true;
    }
    return false;
}
