#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Operation.h"
#include "TallowExport.h"

// Runs operations first in, first out. The main queue runs them on the main
// thread; any other queue has worker threads of its own.
class TALLOW_EXPORT OperationQueue
{
public:
    explicit OperationQueue(std::string name = {}, int maxConcurrentOperationCount = 1);
    // Waits for the operations already added to finish.
    ~OperationQueue();
    OperationQueue(const OperationQueue &) = delete;
    OperationQueue &operator=(const OperationQueue &) = delete;

    static OperationQueue &main();
    // The queue running the calling thread's current operation; the main queue
    // on the main thread; nullptr elsewhere.
    static OperationQueue *currentQueue();

    const std::string &name() const { return m_name; }

    void addOperation(std::shared_ptr<Operation> operation);
    std::shared_ptr<BlockOperation> addOperationWithBlock(std::function<void()> block);
    void cancelAllOperations();
    void waitUntilAllOperationsAreFinished();
    // Operations added and not yet finished.
    std::size_t operationCount() const;

private:
    struct MainTag {};
    explicit OperationQueue(MainTag);

    // Shared with the worker threads, so that a queue released by one of its
    // own operations leaves that worker valid state to finish on.
    struct State
    {
        // Null once the queue is gone.
        OperationQueue *queue = nullptr;
        std::mutex mutex;
        std::condition_variable workAvailable;
        std::condition_variable allDone;
        std::deque<std::shared_ptr<Operation>> pending;
        std::vector<std::shared_ptr<Operation>> unfinished;
        std::vector<std::thread> workers;
        int idleWorkers = 0;
        bool stopping = false;
    };

    static void workerLoop(std::shared_ptr<State> state);
    static void finish(State &state, std::shared_ptr<Operation> operation);

    const std::string m_name;
    const bool m_isMain;
    const int m_maxWorkers;
    const std::shared_ptr<State> m_state;
};
