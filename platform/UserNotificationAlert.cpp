#include "UserNotificationAlert.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "MainThread.h"
#include "SystemLog.h"

namespace
{
// Longer waits are cut to this; nobody waits longer for an answer.
constexpr double longestTimeout = 365.0 * 24 * 3600;

std::mutex &presenterMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<UserNotificationAlertPresenter> &presenterSlot()
{
    static std::shared_ptr<UserNotificationAlertPresenter> slot;
    return slot;
}

// Shared by the waiting thread and the main thread; either may outlive the other's interest.
struct PendingAlert
{
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    bool failed = false;
    // The waiting thread has given up: a window shown later is taken down at once.
    bool abandoned = false;
    UserNotificationAlert::Response response = UserNotificationAlert::cancelResponse;
    std::shared_ptr<ShownUserNotificationAlert> shown;

    void finish(UserNotificationAlert::Response answer, bool showFailed)
    {
        {
            std::lock_guard lock(mutex);
            if (done)
                return;
            done = true;
            response = answer;
            failed = showFailed;
        }
        answered.notify_all();
    }
};

void showOnMainThread(const std::shared_ptr<PendingAlert> &pending,
                      const std::shared_ptr<UserNotificationAlertPresenter> &presenter,
                      const UserNotificationAlert::Content &content)
{
    {
        std::lock_guard lock(pending->mutex);
        if (pending->abandoned)
            return;
    }
    std::shared_ptr<ShownUserNotificationAlert> shown;
    try {
        shown = presenter->show(content, [pending](UserNotificationAlert::Response response) {
            pending->finish(response, false);
        });
    } catch (const std::exception &error) {
        SystemLog::write(std::string("The alert could not be shown: ") + error.what());
    }
    if (!shown) {
        pending->finish(UserNotificationAlert::cancelResponse, true);
        return;
    }
    bool abandoned = false;
    {
        std::lock_guard lock(pending->mutex);
        abandoned = pending->abandoned;
        if (!abandoned)
            pending->shown = shown;
    }
    if (abandoned)
        shown->withdraw();
}
}

ShownUserNotificationAlert::~ShownUserNotificationAlert() = default;

UserNotificationAlertPresenter::~UserNotificationAlertPresenter() = default;

UserNotificationAlert::Result UserNotificationAlert::displayAlert(double timeout, unsigned flags,
                                                                  const std::optional<std::string> &iconPath,
                                                                  const std::string &header, const std::string &message,
                                                                  const std::string &defaultButton,
                                                                  const std::string &alternateButton,
                                                                  const std::string &otherButton)
{
    return displayAlert(
        Content{timeout, flags, iconPath, header, message, defaultButton, alternateButton, otherButton});
}

UserNotificationAlert::Result UserNotificationAlert::displayAlert(const Content &content)
{
    if (MainThread::isCurrent()) {
        SystemLog::write("An alert that waits for its answer cannot be shown from the main thread: " + content.header);
        return {cancelResponse, true};
    }
    const std::shared_ptr<UserNotificationAlertPresenter> shower = presenter();
    if (!shower) {
        SystemLog::write("No window can show the alert: " + content.header);
        return {cancelResponse, true};
    }

    auto pending = std::make_shared<PendingAlert>();
    MainThread::post([pending, shower, content] { showOnMainThread(pending, shower, content); });

    std::unique_lock lock(pending->mutex);
    const auto isDone = [&pending] { return pending->done; };
    if (content.timeout > 0) {
        const double seconds = content.timeout < longestTimeout ? content.timeout : longestTimeout;
        const auto deadline = std::chrono::steady_clock::now()
                              + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::duration<double>(seconds));
        pending->answered.wait_until(lock, deadline, isDone);
    } else {
        pending->answered.wait(lock, isDone);
    }
    if (pending->done)
        return {pending->response, pending->failed};

    // Timed out, whatever the window does: it is taken down and its late answer ignored.
    pending->abandoned = true;
    lock.unlock();
    MainThread::post([pending] {
        std::shared_ptr<ShownUserNotificationAlert> shown;
        {
            std::lock_guard shownLock(pending->mutex);
            shown = std::move(pending->shown);
        }
        if (shown)
            shown->withdraw();
    });
    return {cancelResponse, false};
}

void UserNotificationAlert::setPresenter(std::shared_ptr<UserNotificationAlertPresenter> newPresenter)
{
    std::lock_guard lock(presenterMutex());
    presenterSlot() = std::move(newPresenter);
}

std::shared_ptr<UserNotificationAlertPresenter> UserNotificationAlert::presenter()
{
    std::lock_guard lock(presenterMutex());
    return presenterSlot();
}
