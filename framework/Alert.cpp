#include "Alert.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include <algorithm>

#include "LocalizedString.h"
#include "SystemLog.h"

namespace
{
std::shared_ptr<AlertPresenter> &registeredPresenter()
{
    static std::shared_ptr<AlertPresenter> presenter;
    return presenter;
}

QMessageBox::Icon iconForStyle(Alert::Style style)
{
    switch (style) {
    case Alert::Style::informational:
        return QMessageBox::Information;
    case Alert::Style::critical:
        return QMessageBox::Critical;
    case Alert::Style::warning:
        break;
    }
    return QMessageBox::Warning;
}
}

Alert Alert::alert(const std::string &messageText, const std::string &defaultButton,
                   const std::optional<std::string> &alternateButton, const std::optional<std::string> &otherButton,
                   const std::optional<std::string> &informativeText)
{
    Alert built;
    built.setMessageText(messageText);
    built.setInformativeText(informativeText.value_or(std::string()));
    built.addButton(defaultButton);
    if (alternateButton) {
        built.addButton(*alternateButton);
        if (otherButton)
            built.addButton(*otherButton);
    }
    return built;
}

Alert Alert::alertWithMessageTextCompat(const std::string &messageText, const std::string &defaultButton,
                                        const std::optional<std::string> &alternateButton,
                                        const std::optional<std::string> &otherButton,
                                        const std::optional<std::string> &informativeText)
{
    return alert(messageText, defaultButton, alternateButton, otherButton, informativeText);
}

void Alert::setMessageText(const std::string &text)
{
    m_messageText = text;
}

void Alert::setInformativeText(const std::string &text)
{
    m_informativeText = text;
}

void Alert::setStyle(Style style)
{
    m_style = style;
}

void Alert::addButton(const std::string &title)
{
    m_buttonTitles.push_back(title);
}

void Alert::setShowsSuppressionButton(bool shows)
{
    m_showsSuppressionButton = shows;
}

void Alert::setSuppressionButtonChecked(bool checked)
{
    m_suppressionButtonChecked = checked;
}

std::int64_t Alert::runModal()
{
    if (m_buttonTitles.empty())
        addButton(LSFK("OK"));
    return firstButtonReturn + static_cast<std::int64_t>(presenter()->present(*this));
}

void Alert::setPresenter(std::shared_ptr<AlertPresenter> presenter)
{
    registeredPresenter() = std::move(presenter);
}

std::shared_ptr<AlertPresenter> Alert::presenter()
{
    auto &presenter = registeredPresenter();
    if (!presenter)
        presenter = std::make_shared<MessageBoxAlertPresenter>();
    return presenter;
}

AlertPresenter::~AlertPresenter() = default;

std::size_t MessageBoxAlertPresenter::present(Alert &alert)
{
    // A process without a widget application (the command-line hand-over, a tool) cannot show
    // a window: the alert goes to the system log and ends with its last button, the most
    // cautious answer.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        SystemLog::write("An alert could not be shown: " + alert.messageText()
                         + (alert.informativeText().empty() ? std::string() : " " + alert.informativeText()));
        return alert.buttonTitles().empty() ? 0 : alert.buttonTitles().size() - 1;
    }
    QMessageBox box;
    box.setTextFormat(Qt::PlainText);
    box.setIcon(iconForStyle(alert.style()));
    box.setText(QString::fromStdString(alert.messageText()));
    // The informative label guesses the format on its own; markup that shows the
    // text exactly as given keeps a name such as "<b>" from being rendered.
    if (!alert.informativeText().empty())
        box.setInformativeText(QStringLiteral("<p style=\"white-space:pre-wrap\">")
                               + QString::fromStdString(alert.informativeText()).toHtmlEscaped()
                               + QStringLiteral("</p>"));

    // The box places buttons by role and platform; the answer is the order added,
    // so the clicked button is found by identity.
    std::vector<QPushButton *> buttons;
    for (const std::string &title : alert.buttonTitles())
        buttons.push_back(box.addButton(QString::fromStdString(title), QMessageBox::ActionRole));
    if (!buttons.empty())
        box.setDefaultButton(buttons.front());

    QCheckBox *suppression = nullptr;
    if (alert.showsSuppressionButton()) {
        suppression = new QCheckBox(QString::fromStdString(LSFK("Do not show this message again")));
        suppression->setChecked(alert.suppressionButtonChecked());
        box.setCheckBox(suppression);
    }

    box.exec();

    if (suppression)
        alert.setSuppressionButtonChecked(suppression->isChecked());
    const auto clicked = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return clicked == buttons.end() ? 0 : static_cast<std::size_t>(clicked - buttons.begin());
}
