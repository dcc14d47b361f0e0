#include "OperationQueue.h"

#include "MainThread.h"

#include <algorithm>

namespace
{
thread_local OperationQueue *t_currentQueue = nullptr;
}

OperationQueue::OperationQueue(std::string name, int maxConcurrentOperationCount)
    : m_name(std::move(name)), m_isMain(false), m_maxWorkers(std::max(1, maxConcurrentOperationCount)),
      m_state(std::make_shared<State>())
{
    m_state->queue = this;
}

OperationQueue::OperationQueue(MainTag) : m_name("main"), m_isMain(true), m_maxWorkers(0), m_state(std::make_shared<State>())
{
    m_state->queue = this;
}

OperationQueue::~OperationQueue()
{
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
        workers.swap(m_state->workers);
    }
    m_state->workAvailable.notify_all();
    for (std::thread &worker : workers) {
        if (worker.get_id() == std::this_thread::get_id())
            worker.detach();
        else
            worker.join();
    }
    // What a worker released by its own operation still runs finds no queue.
    std::lock_guard lock(m_state->mutex);
    m_state->queue = nullptr;
}

OperationQueue &OperationQueue::main()
{
    static OperationQueue *queue = new OperationQueue(MainTag{});
    return *queue;
}

OperationQueue *OperationQueue::currentQueue()
{
    if (t_currentQueue)
        return t_currentQueue;
    return MainThread::isCurrent() ? &main() : nullptr;
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation)
{
    if (!operation)
        return;
    State &state = *m_state;
    std::lock_guard lock(state.mutex);
    state.unfinished.push_back(operation);
    if (m_isMain) {
        MainThread::post([this, operation]() mutable {
            OperationQueue *previous = t_currentQueue;
            t_currentQueue = this;
            operation->start();
            t_currentQueue = previous;
            finish(*m_state, std::move(operation));
        });
        return;
    }
    state.pending.push_back(std::move(operation));
    // While the queue is being destroyed its remaining workers drain what is pending; a
    // worker started now would never be joined.
    if (!state.stopping && state.idleWorkers == 0 && int(state.workers.size()) < m_maxWorkers)
        state.workers.emplace_back(&OperationQueue::workerLoop, m_state);
    else
        state.workAvailable.notify_one();
}

std::shared_ptr<BlockOperation> OperationQueue::addOperationWithBlock(std::function<void()> block)
{
    auto operation = BlockOperation::blockOperationWithBlock(std::move(block));
    addOperation(operation);
    return operation;
}

void OperationQueue::cancelAllOperations()
{
    std::lock_guard lock(m_state->mutex);
    for (const auto &operation : m_state->unfinished)
        operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(m_state->mutex);
    m_state->allDone.wait(lock, [this] { return m_state->unfinished.empty(); });
}

std::size_t OperationQueue::operationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->unfinished.size();
}

void OperationQueue::finish(State &state, std::shared_ptr<Operation> operation)
{
    bool allDone;
    {
        std::lock_guard lock(state.mutex);
        std::erase(state.unfinished, operation);
        allDone = state.unfinished.empty();
    }
    if (allDone)
        state.allDone.notify_all();
    // The last reference may own this queue; release it outside the lock.
    operation.reset();
}

void OperationQueue::workerLoop(std::shared_ptr<State> state)
{
    for (;;) {
        std::shared_ptr<Operation> operation;
        {
            std::unique_lock lock(state->mutex);
            ++state->idleWorkers;
            state->workAvailable.wait(lock, [&] { return state->stopping || !state->pending.empty(); });
            --state->idleWorkers;
            if (state->pending.empty())
                return; // stopping, and nothing left to run
            operation = std::move(state->pending.front());
            state->pending.pop_front();
            t_currentQueue = state->queue;
        }
        operation->start();
        finish(*state, std::move(operation));
    }
}
