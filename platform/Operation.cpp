#include "Operation.h"

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::cancel()
{
    m_cancelled = true;
}

bool Operation::isCancelled() const
{
    return m_cancelled;
}

bool Operation::isExecuting() const
{
    return m_state == State::Executing;
}

bool Operation::isFinished() const
{
    return m_state == State::Finished;
}

void Operation::start()
{
    State expected = State::Ready;
    if (!m_state.compare_exchange_strong(expected, State::Executing))
        return;
    if (m_cancelled)
        finishedWithoutRunning();
    else
        main();
    {
        std::lock_guard lock(m_finishMutex);
        m_state = State::Finished;
    }
    m_finished.notify_all();
}

void Operation::waitUntilFinished()
{
    std::unique_lock lock(m_finishMutex);
    m_finished.wait(lock, [this] { return m_state == State::Finished; });
}

BlockOperation::BlockOperation(Block block) : m_block(std::move(block)) {}

std::shared_ptr<BlockOperation> BlockOperation::blockOperationWithBlock(Block block)
{
    return std::make_shared<BlockOperation>(std::move(block));
}

void BlockOperation::main()
{
    Block block = std::move(m_block);
    m_block = nullptr;
    if (block)
        block();
}

void BlockOperation::finishedWithoutRunning()
{
    m_block = nullptr;
}
