#include "KeepCleanPromptWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>

namespace
{
constexpr int iconSize = 64;
// Wide enough that a header naming a few disks keeps to two or three lines.
constexpr int textWidth = 380;

// The longest single-shot a timer can take, in milliseconds.
constexpr double longestTimerMilliseconds = 2147483647.0;

class ShownKeepCleanPrompt : public ShownUserNotificationAlert
{
public:
    explicit ShownKeepCleanPrompt(KeepCleanPromptWindow *window)
        : m_window(window)
    {
    }

    void withdraw() override
    {
        if (m_window)
            m_window->withdraw();
    }

private:
    QPointer<KeepCleanPromptWindow> m_window;
};

class KeepCleanPromptPresenter : public UserNotificationAlertPresenter
{
public:
    std::shared_ptr<ShownUserNotificationAlert> show(const UserNotificationAlert::Content &content,
                                                     Answer answer) override
    {
        auto *window = new KeepCleanPromptWindow(content, std::move(answer));
        window->show();
        window->raise();
        window->activateWindow();
        return std::make_shared<ShownKeepCleanPrompt>(window);
    }
};

std::optional<QStyle::StandardPixmap> levelIcon(UserNotificationAlert::Level level)
{
    switch (level) {
    case UserNotificationAlert::stopLevel:
        return QStyle::SP_MessageBoxCritical;
    case UserNotificationAlert::noteLevel:
        return QStyle::SP_MessageBoxInformation;
    case UserNotificationAlert::cautionLevel:
        return QStyle::SP_MessageBoxWarning;
    case UserNotificationAlert::plainLevel:
        break;
    }
    return std::nullopt;
}
}

KeepCleanPromptWindow::KeepCleanPromptWindow(const UserNotificationAlert::Content &content,
                                             UserNotificationAlertPresenter::Answer answer)
    : m_answer(std::move(answer))
{
    setObjectName(windowObjectName);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowTitle(QApplication::applicationDisplayName());

    auto *icon = new QLabel(this);
    icon->setObjectName("iconLabel");
    icon->setPixmap(iconFor(content));
    icon->setAlignment(Qt::AlignTop);

    auto *header = new QLabel(QString::fromStdString(content.header), this);
    header->setObjectName("headerLabel");
    header->setWordWrap(true);
    header->setMinimumWidth(textWidth);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);

    auto *message = new QLabel(QString::fromStdString(content.message), this);
    message->setObjectName("messageLabel");
    message->setWordWrap(true);

    auto *texts = new QVBoxLayout;
    texts->addWidget(header);
    texts->addWidget(message);
    texts->addStretch();

    auto *body = new QHBoxLayout;
    body->addWidget(icon);
    body->addLayout(texts, 1);

    m_buttons = new QHBoxLayout;
    m_buttons->addStretch();
    QPushButton *defaultButton =
        addButton(content.defaultButton.empty() ? "OK" : content.defaultButton, defaultButtonObjectName,
                  UserNotificationAlert::defaultResponse);
    defaultButton->setDefault(true);
    defaultButton->setFocus();
    if (!content.alternateButton.empty())
        addButton(content.alternateButton, alternateButtonObjectName, UserNotificationAlert::alternateResponse);
    if (!content.otherButton.empty())
        addButton(content.otherButton, otherButtonObjectName, UserNotificationAlert::otherResponse);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addLayout(m_buttons);

    if (content.timeout > 0) {
        m_timeout = new QTimer(this);
        m_timeout->setSingleShot(true);
        m_timeout->setInterval(static_cast<int>(std::min(std::ceil(content.timeout * 1000.0), longestTimerMilliseconds)));
        connect(m_timeout, &QTimer::timeout, this, [this] {
            answerWith(UserNotificationAlert::cancelResponse);
            close();
        });
        m_timeout->start();
    }
}

void KeepCleanPromptWindow::install()
{
    UserNotificationAlert::setPresenter(std::make_shared<KeepCleanPromptPresenter>());
}

void KeepCleanPromptWindow::withdraw()
{
    m_answered = true;
    close();
}

void KeepCleanPromptWindow::reject()
{
    answerWith(UserNotificationAlert::cancelResponse);
    QDialog::reject();
}

void KeepCleanPromptWindow::closeEvent(QCloseEvent *event)
{
    answerWith(UserNotificationAlert::cancelResponse);
    QDialog::closeEvent(event);
}

QPushButton *KeepCleanPromptWindow::addButton(const std::string &title, const char *objectName,
                                              UserNotificationAlert::Response response)
{
    auto *button = new QPushButton(QString::fromStdString(title), this);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, response] {
        answerWith(response);
        close();
    });
    m_buttons->addWidget(button);
    return button;
}

void KeepCleanPromptWindow::answerWith(UserNotificationAlert::Response response)
{
    if (m_answered)
        return;
    m_answered = true;
    if (m_timeout)
        m_timeout->stop();
    if (m_answer)
        m_answer(response);
}

QPixmap KeepCleanPromptWindow::iconFor(const UserNotificationAlert::Content &content) const
{
    QPixmap icon;
    if (content.iconPath) {
        const QPixmap fromFile(QString::fromStdString(*content.iconPath));
        if (!fromFile.isNull())
            icon = fromFile.scaled(iconSize, iconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    if (icon.isNull() && !QApplication::windowIcon().isNull())
        icon = QApplication::windowIcon().pixmap(iconSize, iconSize);

    const std::optional<QStyle::StandardPixmap> level = levelIcon(content.level());
    if (!level || content.level() == UserNotificationAlert::noteLevel)
        return icon;
    const QIcon levelImage = style()->standardIcon(*level, nullptr, this);
    if (icon.isNull())
        return levelImage.pixmap(iconSize, iconSize);
    // A caution or stop alert wears the level's sign on the application's icon.
    QPainter painter(&icon);
    const int badge = iconSize / 2;
    painter.drawPixmap(icon.width() - badge, icon.height() - badge, levelImage.pixmap(badge, badge));
    return icon;
}
