#include "NotificationCenter.h"

#include "OperationQueue.h"

#include <atomic>

struct NotificationCenter::Observer
{
    std::string name;
    const void *object = nullptr;
    OperationQueue *queue = nullptr;
    Block block;
    std::atomic<bool> removed{false};
};

NotificationCenter::NotificationCenter() = default;

NotificationCenter &NotificationCenter::defaultCenter()
{
    static NotificationCenter *center = new NotificationCenter;
    return *center;
}

NotificationCenter &NotificationCenter::workspaceCenter()
{
    static NotificationCenter *center = new NotificationCenter;
    return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(const std::string &name, const void *object,
                                                                  OperationQueue *queue, Block block)
{
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->object = object;
    observer->queue = queue;
    observer->block = std::move(block);
    std::lock_guard lock(m_mutex);
    m_observers.push_back(observer);
    return observer;
}

void NotificationCenter::removeObserver(const ObserverToken &token)
{
    if (!token)
        return;
    std::lock_guard lock(m_mutex);
    for (auto it = m_observers.begin(); it != m_observers.end(); ++it) {
        if (it->get() == token.get()) {
            (*it)->removed = true;
            m_observers.erase(it);
            return;
        }
    }
}

void NotificationCenter::post(const std::string &name, const void *object, const Dictionary &userInfo)
{
    post(Notification{name, object, userInfo});
}

void NotificationCenter::post(const Notification &notification)
{
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &observer : m_observers) {
            if (!observer->name.empty() && observer->name != notification.name)
                continue;
            if (observer->object && observer->object != notification.object)
                continue;
            matching.push_back(observer);
        }
    }
    for (const auto &observer : matching) {
        if (!observer->queue) {
            if (!observer->removed)
                observer->block(notification);
            continue;
        }
        observer->queue->addOperationWithBlock([observer, notification] {
            if (!observer->removed)
                observer->block(notification);
        });
    }
}
