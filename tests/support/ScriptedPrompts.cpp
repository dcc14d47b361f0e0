#include "ScriptedPrompts.h"

void ScriptedPrompt::withdraw()
{
    withdrawn = true;
}

std::shared_ptr<ShownUserNotificationAlert> ScriptedPrompts::show(const UserNotificationAlert::Content &content,
                                                                  Answer answer)
{
    contents.push_back(content);
    if (refuse)
        return nullptr;
    shown.push_back(std::make_shared<ScriptedPrompt>());
    if (immediateResponse)
        answer(*immediateResponse);
    else
        pending.push_back(std::move(answer));
    return shown.back();
}

void ScriptedPrompts::answerPending(UserNotificationAlert::Response response)
{
    for (const Answer &answer : pending)
        answer(response);
    pending.clear();
}
