#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "TallowExport.h"

// One unit of work with the states ready → executing → finished. A cancelled
// operation that has not started finishes without running its work; one that
// is running is not interrupted (its work may poll isCancelled()).
class TALLOW_EXPORT Operation : public std::enable_shared_from_this<Operation>
{
public:
    Operation();
    virtual ~Operation();
    Operation(const Operation &) = delete;
    Operation &operator=(const Operation &) = delete;

    void cancel();
    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;

    // Runs the work once, on the calling thread; queues call it. A second call does nothing.
    void start();
    void waitUntilFinished();

protected:
    virtual void main() = 0;
    // Called instead of main() when the operation was cancelled before it started.
    virtual void finishedWithoutRunning() {}

private:
    enum class State { Ready, Executing, Finished };

    std::atomic<bool> m_cancelled{false};
    std::atomic<State> m_state{State::Ready};
    std::mutex m_finishMutex;
    std::condition_variable m_finished;
};

// An operation that runs one block. The block is released once it has run or
// the operation has finished without running it.
class TALLOW_EXPORT BlockOperation : public Operation
{
public:
    using Block = std::function<void()>;

    explicit BlockOperation(Block block);
    static std::shared_ptr<BlockOperation> blockOperationWithBlock(Block block);

protected:
    void main() override;
    void finishedWithoutRunning() override;

private:
    Block m_block;
};
