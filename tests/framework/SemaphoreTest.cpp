#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Semaphore.h"

TEST(Semaphore, IdleTakesItUntilGivenBack)
{
    Semaphore busy = Semaphore::SemaphoreNotBusy();
    EXPECT_TRUE(busy.isIdle());
    EXPECT_FALSE(busy.isIdle());
    EXPECT_TRUE(busy.isBusy());
    busy.nolongerBusy();
    EXPECT_FALSE(busy.isBusy()) << "a free semaphore is taken by isBusy as well";
    EXPECT_TRUE(busy.isBusy());
}

TEST(Semaphore, OnlyOneOfManyThreadsGetsIt)
{
    Semaphore busy = Semaphore::SemaphoreNotBusy();
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] { winners += busy.isIdle() ? 1 : 0; });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(winners.load(), 1);
}
