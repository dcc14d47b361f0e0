#include "KeepCleanPromptWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <future>
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UserNotificationAlert.h"

using namespace std::chrono_literals;

namespace
{
KeepCleanPromptWindow *visiblePrompt()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == KeepCleanPromptWindow::windowObjectName && widget->isVisible())
            return static_cast<KeepCleanPromptWindow *>(widget);
    }
    return nullptr;
}

std::future<UserNotificationAlert::Result> askOnWorker(double timeout)
{
    return std::async(std::launch::async, [timeout] {
        return UserNotificationAlert::displayAlert(
            timeout, UserNotificationAlert::cautionLevel, std::nullopt,
            "Would you like Tarnwick to keep the disk \"STICK\" clean?", "You can change it later.", "Keep Clean",
            "Ask Next Time", "Don't Clean");
    });
}

bool ready(const std::future<UserNotificationAlert::Result> &result)
{
    return result.wait_for(0s) == std::future_status::ready;
}

class KeepCleanPromptWindowTest : public testing::Test
{
protected:
    void SetUp() override { KeepCleanPromptWindow::install(); }
    void TearDown() override { UserNotificationAlert::setPresenter(nullptr); }
};
}

TEST_F(KeepCleanPromptWindowTest, ShowsTheQuestionAndAnswersWithTheButtonClicked)
{
    const struct
    {
        const char *button;
        UserNotificationAlert::Response response;
    } cases[] = {
        {KeepCleanPromptWindow::otherButtonObjectName, UserNotificationAlert::otherResponse},
        {KeepCleanPromptWindow::defaultButtonObjectName, UserNotificationAlert::defaultResponse},
        {KeepCleanPromptWindow::alternateButtonObjectName, UserNotificationAlert::alternateResponse},
    };
    for (const auto &[buttonName, response] : cases) {
        auto result = askOnWorker(60);
        ASSERT_TRUE(runEventLoopUntil([] { return visiblePrompt() != nullptr; }));
        KeepCleanPromptWindow *shown = visiblePrompt();
        ASSERT_NE(shown, nullptr);
        const QPointer<KeepCleanPromptWindow> window = shown;
        EXPECT_EQ(shown->windowModality(), Qt::NonModal) << "the main thread goes on while the question shows";

        const auto *header = shown->findChild<QLabel *>("headerLabel");
        const auto *message = shown->findChild<QLabel *>("messageLabel");
        ASSERT_TRUE(header && message);
        EXPECT_EQ(header->text(), "Would you like Tarnwick to keep the disk \"STICK\" clean?");
        EXPECT_EQ(message->text(), "You can change it later.");
        EXPECT_FALSE(shown->findChild<QLabel *>("iconLabel")->pixmap().isNull());

        auto *keepClean = shown->findChild<QPushButton *>(KeepCleanPromptWindow::defaultButtonObjectName);
        auto *askNextTime = shown->findChild<QPushButton *>(KeepCleanPromptWindow::alternateButtonObjectName);
        auto *dontClean = shown->findChild<QPushButton *>(KeepCleanPromptWindow::otherButtonObjectName);
        ASSERT_TRUE(keepClean && askNextTime && dontClean);
        EXPECT_EQ(keepClean->text(), "Keep Clean");
        EXPECT_EQ(askNextTime->text(), "Ask Next Time");
        EXPECT_EQ(dontClean->text(), "Don't Clean");
        EXPECT_TRUE(keepClean->isDefault());
        EXPECT_LT(keepClean->x(), askNextTime->x());
        EXPECT_LT(askNextTime->x(), dontClean->x());

        EXPECT_FALSE(ready(result));
        QTest::mouseClick(shown->findChild<QPushButton *>(buttonName), Qt::LeftButton);
        ASSERT_TRUE(runEventLoopUntil([&] { return ready(result); }));
        const UserNotificationAlert::Result answered = result.get();
        EXPECT_EQ(answered.response, response) << buttonName;
        EXPECT_FALSE(answered.failed);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(window.isNull()) << "the window goes once answered";
    }
}

TEST_F(KeepCleanPromptWindowTest, ClosesItselfAfterTheTimeOutAndClosingIsCancel)
{
    auto timedOut = askOnWorker(0.3);
    ASSERT_TRUE(runEventLoopUntil([] { return visiblePrompt() != nullptr; }));
    ASSERT_TRUE(runEventLoopUntil([&] { return ready(timedOut); }));
    EXPECT_EQ(timedOut.get().response, UserNotificationAlert::cancelResponse);
    EXPECT_TRUE(runEventLoopUntil([] { return visiblePrompt() == nullptr; }));

    auto closed = askOnWorker(60);
    ASSERT_TRUE(runEventLoopUntil([] { return visiblePrompt() != nullptr; }));
    QTest::keyClick(visiblePrompt(), Qt::Key_Escape);
    ASSERT_TRUE(runEventLoopUntil([&] { return ready(closed); }));
    EXPECT_EQ(closed.get().response, UserNotificationAlert::cancelResponse);
    EXPECT_EQ(visiblePrompt(), nullptr);
}
