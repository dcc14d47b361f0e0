#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "TallowExport.h"

class UserNotificationAlertPresenter;

// A notice with up to three buttons that a worker thread shows and waits for, while the main
// thread goes on: the window is shown on the main thread by the registered presenter, and the
// calling thread waits for the answer or the time-out.
class TALLOW_EXPORT UserNotificationAlert
{
public:
    // The alert levels of the flags.
    enum Level : unsigned {
        stopLevel = 0,
        noteLevel = 1,
        cautionLevel = 2,
        plainLevel = 3,
    };

    enum Response : int {
        defaultResponse = 0,
        alternateResponse = 1,
        otherResponse = 2,
        cancelResponse = 3,
    };

    struct Content
    {
        // Seconds; 0 or less waits without end.
        double timeout = 0;
        unsigned flags = cautionLevel;
        // A file to show as the icon; the application's icon when absent or unreadable.
        std::optional<std::string> iconPath;
        std::string header;
        std::string message;
        std::string defaultButton;
        std::string alternateButton;
        std::string otherButton;

        Level level() const { return static_cast<Level>(flags & 3u); }
    };

    struct Result
    {
        Response response = cancelResponse;
        // The alert could not be shown: no presenter, the presenter refused, or the call was
        // made on the main thread (which must never wait).
        bool failed = false;
    };

    // Blocks the calling thread until a button is chosen or the time-out passes (cancelResponse).
    static Result displayAlert(double timeout, unsigned flags, const std::optional<std::string> &iconPath,
                               const std::string &header, const std::string &message, const std::string &defaultButton,
                               const std::string &alternateButton, const std::string &otherButton);
    static Result displayAlert(const Content &content);

    // Null removes the presenter: every alert then fails.
    static void setPresenter(std::shared_ptr<UserNotificationAlertPresenter> presenter);
    static std::shared_ptr<UserNotificationAlertPresenter> presenter();
};

// An alert the presenter has put on the screen.
class TALLOW_EXPORT ShownUserNotificationAlert
{
public:
    virtual ~ShownUserNotificationAlert();
    // Main thread: takes the window down unanswered (its caller stopped waiting).
    virtual void withdraw() = 0;
};

// Puts alerts on the screen; called on the main thread.
class TALLOW_EXPORT UserNotificationAlertPresenter
{
public:
    using Answer = std::function<void(UserNotificationAlert::Response)>;

    virtual ~UserNotificationAlertPresenter();
    // Shows the alert without waiting for it and calls answer once, on the main thread, with
    // the button chosen (cancelResponse when closed or timed out). Null when it cannot be shown.
    virtual std::shared_ptr<ShownUserNotificationAlert> show(const UserNotificationAlert::Content &content,
                                                             Answer answer) = 0;
};
