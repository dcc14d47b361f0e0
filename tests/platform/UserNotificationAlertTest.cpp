#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

#include "TestSupport.h"
#include "ScriptedPrompts.h"
#include "UserNotificationAlert.h"

using namespace std::chrono_literals;

namespace
{
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

    auto presenter = std::make_shared<ScriptedPrompts>();
    UserNotificationAlert::setPresenter(presenter);

    auto answered = askOnWorker(60);
    ASSERT_TRUE(runEventLoopUntil([&] { return presenter->pending.size() == 1; }));
    EXPECT_EQ(answered.wait_for(50ms), std::future_status::timeout) << "the worker waits while the alert shows";
    presenter->pending[0](UserNotificationAlert::otherResponse);
    presenter->pending[0](UserNotificationAlert::defaultResponse); // a second answer changes nothing
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
    EXPECT_TRUE(runEventLoopUntil([&] { return presenter->shown[1]->withdrawn; }));

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
