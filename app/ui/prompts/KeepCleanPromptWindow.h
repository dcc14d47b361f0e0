#pragma once

#include <QDialog>
#include <QPixmap>

#include "UserNotificationAlert.h"

class QCloseEvent;
class QHBoxLayout;
class QPushButton;
class QTimer;

// The keep-clean question on the desktop: a window of its own, shown without blocking the main
// thread, with the header, the message, the icon and up to three buttons (default, alternate,
// other). It closes by itself after the time-out, which answers like closing it: cancel.
class KeepCleanPromptWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char *windowObjectName = "KeepCleanPromptWindow";
    static constexpr const char *defaultButtonObjectName = "defaultButton";
    static constexpr const char *alternateButtonObjectName = "alternateButton";
    static constexpr const char *otherButtonObjectName = "otherButton";

    KeepCleanPromptWindow(const UserNotificationAlert::Content &content,
                          UserNotificationAlertPresenter::Answer answer);

    // Registers these windows as the way alerts are put on the screen. Main thread.
    static void install();

    // Closes the window without answering.
    void withdraw();

    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QPushButton *addButton(const std::string &title, const char *objectName, UserNotificationAlert::Response response);
    void answerWith(UserNotificationAlert::Response response);
    QPixmap iconFor(const UserNotificationAlert::Content &content) const;

    UserNotificationAlertPresenter::Answer m_answer;
    bool m_answered = false;
    QHBoxLayout *m_buttons = nullptr;
    QTimer *m_timeout = nullptr;
};
