#include "HDIconCacheController.h"

#include <memory>

#include "MainThread.h"
#include "OperationQueue.h"

HDIconCacheController &HDIconCacheController::shared()
{
    static HDIconCacheController *controller = new HDIconCacheController;
    return *controller;
}

void HDIconCacheController::icon(const URL &url, Completion completion)
{
    if (const std::optional<QIcon> cached = cachedIcon(url)) {
        completion(*cached);
        return;
    }
    auto queue = std::make_shared<OperationQueue>("HDIconCacheController fetch");
    // The queue keeps itself alive until its one fetch has run.
    queue->addOperationWithBlock([queue, url, completion = std::move(completion)]() mutable {
        const std::optional<QIcon> found = url.value<QIcon>(URLValues::effectiveIconKey);
        if (found && !found->isNull()) {
            MainThread::post([url, icon = *found, completion = std::move(completion)] {
                HDIconCacheController::shared().m_cache.insert_or_assign(url, icon);
                completion(icon);
            });
        }
        queue.reset();
    });
}

std::optional<QIcon> HDIconCacheController::cachedIcon(const URL &url) const
{
    const auto found = m_cache.find(url);
    if (found == m_cache.end())
        return std::nullopt;
    return found->second;
}
