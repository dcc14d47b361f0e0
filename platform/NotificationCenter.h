#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TallowExport.h"
#include "Value.h"

class OperationQueue;

struct TALLOW_EXPORT Notification
{
    std::string name;
    const void *object = nullptr;
    Dictionary userInfo;
};

// Posts notifications to the observers registered for their name (and object).
// An observer with no queue is called on the posting thread, before post
// returns; one with a queue is called as an operation of that queue.
class TALLOW_EXPORT NotificationCenter
{
public:
    using Block = std::function<void(const Notification &)>;
    using ObserverToken = std::shared_ptr<void>;

    // did-mount and did-unmount carry the mount point under this key.
    static constexpr const char *DevicePathKey = "NSDevicePath";
    static constexpr const char *DidMountNotification = "NSWorkspaceDidMountNotification";
    static constexpr const char *DidUnmountNotification = "NSWorkspaceDidUnmountNotification";
    static constexpr const char *WillUnmountNotification = "NSWorkspaceWillUnmountNotification";

    NotificationCenter();
    NotificationCenter(const NotificationCenter &) = delete;
    NotificationCenter &operator=(const NotificationCenter &) = delete;

    static NotificationCenter &defaultCenter();
    // Carries the workspace's mount and unmount notices.
    static NotificationCenter &workspaceCenter();

    // An empty name observes every name; a null object observes every sender.
    ObserverToken addObserver(const std::string &name, const void *object, OperationQueue *queue, Block block);
    // After this returns the observer is not called again (a delivery already
    // running on another thread may finish).
    void removeObserver(const ObserverToken &token);

    void post(const std::string &name, const void *object = nullptr, const Dictionary &userInfo = {});
    void post(const Notification &notification);

private:
    struct Observer;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<Observer>> m_observers;
};
