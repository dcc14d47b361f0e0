#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

#include "TestSupport.h"
#include "UserNotificationAlert.h"

using namespace std::chrono_literals;

namespace
{
class RecordedAlert : public ShownUserNotificationAlert
{
public:
    void withdraw() override { withdrawn = true; }
    bool withdrawn = false;
};

// Keeps what it was asked to show and answers when the test says; or refuses.
class ScriptedPresenter : public UserNotificationAlertPresenter
{
public:
    std::shared_ptr<ShownUserNotificationAlert> show(const UserNotificationAlert::Content &content,
                                                     Answer answer) override
    {
        contents.push_back(content);
        if (refuse)
            return nullptr;
        alerts.push_back(std::make_shared<RecordedAlert>());
        answers.push_back(std::move(answer));
        return alerts.back();
    }

    bool refuse = false;
    std::vector<UserNotificationAlert::Content> contents;
    std::vector<std::shared_ptr<RecordedAlert>> alerts;
    std::vector<Answer> answers;
};

std::future<UserNotificationAlert::Result> askOnWorker(double timeout)
{
    return std::async(std::launch::async, [timeout] {
        return UserNotificationAlert::displayAlert(timeout, UserNotificationAlert::cautionLevel, "/icons/icon.png",
                                                   "Header", "Message", "Keep Clean", "Ask Next Time", "Don't Clean");
    });
}

UserNotificationAlert::Result waitFor(std::future<UserNotificationAlert::Result> &result)
{
    EXPECT_TRUE(runEventLoopUntil([&] { return result.wait_for(0s) == std::future_status::ready; }));
    return result.get();
}
}

TEST(UserNotificationAlert, AnsweredTimedOutAndFailedAlerts)
{
    EXPECT_TRUE(askOnWorker(60).get().failed) << "no presenter";

    auto presenter = std::make_shared<ScriptedPresenter>();
    UserNotificationAlert::setPresenter(presenter);

    auto answered = askOnWorker(60);
    ASSERT_TRUE(runEventLoopUntil([&] { return presenter->answers.size() == 1; }));
    EXPECT_EQ(answered.wait_for(50ms), std::future_status::timeout) << "the worker waits while the alert shows";
    presenter->answers[0](UserNotificationAlert::otherResponse);
    presenter->answers[0](UserNotificationAlert::defaultResponse); // a second answer changes nothing
    const UserNotificationAlert::Result other = waitFor(answered);
    EXPECT_EQ(other.response, UserNotificationAlert::otherResponse);
    EXPECT_FALSE(other.failed);
    const UserNotificationAlert::Content &content = presenter->contents[0];
    EXPECT_EQ(content.level(), UserNotificationAlert::cautionLevel);
    EXPECT_EQ(content.iconPath, "/icons/icon.png");
    EXPECT_EQ(content.header + content.message, "HeaderMessage");
    EXPECT_EQ(content.defaultButton + content.alternateButton + content.otherButton,
              "Keep CleanAsk Next TimeDon't Clean");

    // A window that never answers: cancel after the time-out, and the window is taken down.
    auto stuck = askOnWorker(0.2);
    const UserNotificationAlert::Result timedOut = waitFor(stuck);
    EXPECT_EQ(timedOut.response, UserNotificationAlert::cancelResponse);
    EXPECT_FALSE(timedOut.failed);
    EXPECT_TRUE(runEventLoopUntil([&] { return presenter->alerts[1]->withdrawn; }));

    presenter->refuse = true;
    auto refused = askOnWorker(60);
    const UserNotificationAlert::Result failed = waitFor(refused);
    EXPECT_TRUE(failed.failed);
    EXPECT_EQ(failed.response, UserNotificationAlert::cancelResponse) << "a failure is never the default button";

    // The main thread never waits: it would wait for itself.
    presenter->refuse = false;
    EXPECT_TRUE(UserNotificationAlert::displayAlert(60, 0, std::nullopt, "Header", "", "OK", "", "").failed);
    EXPECT_EQ(presenter->contents.size(), 3u);
    UserNotificationAlert::setPresenter(nullptr);
}
