#include "MainThread.h"
#include "NotificationCenter.h"
#include "OperationQueue.h"
#include "TestSupport.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

TEST(Operation, StatesOfARunAndOfCancellationsBeforeAndWhileQueuedAndRunning)
{
    // Cancelled before it was queued: finishes without running.
    bool ran = false;
    auto early = BlockOperation::blockOperationWithBlock([&] { ran = true; });
    early->cancel();
    OperationQueue queue("test");
    queue.addOperation(early);
    early->waitUntilFinished();
    EXPECT_TRUE(early->isFinished());
    EXPECT_TRUE(early->isCancelled());
    EXPECT_FALSE(ran);

    // Cancelled while queued behind a running operation.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> sawExecuting{false};
    std::promise<void> started;
    std::shared_ptr<BlockOperation> running;
    running = BlockOperation::blockOperationWithBlock([&] {
        sawExecuting = running->isExecuting() && !running->isFinished();
        started.set_value();
        released.wait();
    });
    bool queuedRan = false;
    auto queued = BlockOperation::blockOperationWithBlock([&] { queuedRan = true; });
    queue.addOperation(running);
    queue.addOperation(queued);
    started.get_future().wait();
    queued->cancel();
    // Cancelled while running: not interrupted.
    running->cancel();
    release.set_value();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sawExecuting);
    EXPECT_TRUE(running->isFinished());
    EXPECT_TRUE(queued->isFinished());
    EXPECT_FALSE(queuedRan);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(Operation, CancelledBlockIsReleasedWithoutRunning)
{
    auto captured = std::make_shared<int>(7);
    std::weak_ptr<int> watch = captured;
    auto operation = BlockOperation::blockOperationWithBlock([captured] {});
    captured.reset();
    operation->cancel();
    operation->start();
    EXPECT_TRUE(watch.expired());
}

TEST(OperationQueue, BackgroundQueueRunsOffMainAndIsCurrentThere)
{
    OperationQueue queue("worker", 1);
    std::atomic<bool> offMain{false}, current{false};
    queue.addOperationWithBlock([&] {
        offMain = !MainThread::isCurrent();
        current = OperationQueue::currentQueue() == &queue;
    });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(offMain);
    EXPECT_TRUE(current);
    EXPECT_EQ(OperationQueue::currentQueue(), &OperationQueue::main()) << "the test runs on the main thread";
}

TEST(OperationQueue, MainQueueRunsLaterOnTheMainThread)
{
    bool ran = false;
    auto operation = OperationQueue::main().addOperationWithBlock([&] { ran = MainThread::isCurrent(); });
    EXPECT_FALSE(ran);
    ASSERT_TRUE(runEventLoopUntil([&] { return operation->isFinished(); }));
    EXPECT_TRUE(ran);
}

TEST(OperationQueue, WorkAddedByARunningOperationDuringDestructionRunsBeforeItReturns)
{
    // The follow-up lands before or after the destructor begins; both orders are hit over the rounds.
    for (int round = 0; round < 200; ++round) {
        auto *queue = new OperationQueue("draining", 2);
        std::atomic<bool> released{false}, followUpRan{false};
        queue->addOperationWithBlock([&] {
            while (!released)
                std::this_thread::yield();
            OperationQueue::currentQueue()->addOperationWithBlock([&] { followUpRan = true; });
        });
        released = true;
        delete queue;
        ASSERT_TRUE(followUpRan) << "round " << round;
    }
}

TEST(OperationQueue, QueueReleasedByItsOwnOperationDoesNotDeadlock)
{
    auto queue = std::make_shared<OperationQueue>("self-owned");
    std::atomic<bool> done{false};
    auto *raw = queue.get();
    raw->addOperationWithBlock([queue = std::move(queue), &done]() mutable {
        queue.reset();
        done = true;
    });
    queue.reset();
    EXPECT_TRUE(runEventLoopUntil([&] { return done.load(); }));
}

TEST(OperationQueue, OperationsLeftWhenAnOperationReleasedTheQueueSeeNoQueue)
{
    auto queue = std::make_shared<OperationQueue>("released-midway");
    auto *raw = queue.get();
    std::promise<void> secondAdded;
    std::shared_future<void> added = secondAdded.get_future().share();
    std::atomic<bool> done{false};
    std::atomic<const OperationQueue *> seen{raw};
    raw->addOperationWithBlock([queue = std::move(queue), added]() mutable {
        added.wait();
        queue.reset();
    });
    raw->addOperationWithBlock([&] {
        seen = OperationQueue::currentQueue();
        done = true;
    });
    secondAdded.set_value();
    ASSERT_TRUE(runEventLoopUntil([&] { return done.load(); }));
    EXPECT_EQ(seen.load(), nullptr) << "not the address of the destroyed queue";
}

TEST(NotificationCenter, DeliversByNameAndObjectOnThePostingThreadOrTheMainQueue)
{
    NotificationCenter center;
    int sender = 0, other = 0;
    int direct = 0, anyName = 0, fromSender = 0;
    std::atomic<bool> mainDelivery{false};
    std::atomic<bool> mainDeliveryOnMain{false};
    auto directToken = center.addObserver("Changed", nullptr, nullptr, [&](const Notification &n) {
        ++direct;
        EXPECT_EQ(*n.userInfo.at("key").asString(), "value");
    });
    auto anyToken = center.addObserver("", nullptr, nullptr, [&](const Notification &) { ++anyName; });
    auto senderToken = center.addObserver("Changed", &sender, nullptr, [&](const Notification &) { ++fromSender; });
    auto mainToken = center.addObserver("Changed", nullptr, &OperationQueue::main(), [&](const Notification &) {
        mainDeliveryOnMain = MainThread::isCurrent();
        mainDelivery = true;
    });

    std::thread poster([&] { center.post("Changed", &other, Dictionary{{"key", Value("value")}}); });
    poster.join();
    EXPECT_EQ(direct, 1) << "delivered on the posting thread before post returned";
    EXPECT_EQ(anyName, 1);
    EXPECT_EQ(fromSender, 0) << "another sender";
    ASSERT_TRUE(runEventLoopUntil([&] { return mainDelivery.load(); }));
    EXPECT_TRUE(mainDeliveryOnMain);

    center.post("Other", &sender);
    EXPECT_EQ(direct, 1);
    EXPECT_EQ(anyName, 2);

    center.removeObserver(directToken);
    center.post("Changed", &sender, Dictionary{{"key", Value("value")}});
    EXPECT_EQ(direct, 1);
    EXPECT_EQ(fromSender, 1);
    (void)anyToken;
    (void)senderToken;
}

TEST(NotificationCenter, ObserverRemovedBeforeItsQueuedDeliveryIsNotCalled)
{
    NotificationCenter center;
    int calls = 0;
    auto token = center.addObserver("Late", nullptr, &OperationQueue::main(), [&](const Notification &) { ++calls; });
    center.post("Late");
    center.removeObserver(token);
    bool marker = false;
    MainThread::post([&] { marker = true; });
    ASSERT_TRUE(runEventLoopUntil([&] { return marker; }));
    EXPECT_EQ(calls, 0);
}
