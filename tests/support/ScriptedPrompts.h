#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "UserNotificationAlert.h"

// A prompt the scripted presenter showed; it records being taken down.
class ScriptedPrompt : public ShownUserNotificationAlert
{
public:
    void withdraw() override;

    bool withdrawn = false;
};

// Stands in for the prompt window: keeps each prompt and answers it at once, or when the
// test says, or refuses to show it. Used on the main thread only.
class ScriptedPrompts : public UserNotificationAlertPresenter
{
public:
    std::shared_ptr<ShownUserNotificationAlert> show(const UserNotificationAlert::Content &content,
                                                     Answer answer) override;
    void answerPending(UserNotificationAlert::Response response);

    std::optional<UserNotificationAlert::Response> immediateResponse;
    bool refuse = false;
    std::vector<UserNotificationAlert::Content> contents;
    std::vector<std::shared_ptr<ScriptedPrompt>> shown;
    std::vector<Answer> pending;
};
