#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TallowExport.h"

class AlertPresenter;

// A modal alert described as data: texts, style and buttons in the order added.
// runModal() hands it to the registered presenter and answers 1000 + the index
// of the button that ended it.
class TALLOW_EXPORT Alert
{
public:
    enum class Style
    {
        warning = 0,
        informational = 1,
        critical = 2
    };

    static constexpr std::int64_t firstButtonReturn = 1000;

    // The builder: message text, the default button, then the alternate button when
    // given and, only after it, the other button. The informative text is used
    // unchanged (never as a format) and is empty when none is given.
    static Alert alert(const std::string &messageText, const std::string &defaultButton,
                       const std::optional<std::string> &alternateButton,
                       const std::optional<std::string> &otherButton,
                       const std::optional<std::string> &informativeText);
    static Alert alertWithMessageTextCompat(const std::string &messageText, const std::string &defaultButton,
                                            const std::optional<std::string> &alternateButton,
                                            const std::optional<std::string> &otherButton,
                                            const std::optional<std::string> &informativeText);

    const std::string &messageText() const { return m_messageText; }
    void setMessageText(const std::string &text);
    const std::string &informativeText() const { return m_informativeText; }
    void setInformativeText(const std::string &text);
    Style style() const { return m_style; }
    void setStyle(Style style);

    // An alert without buttons is shown with a single "OK" button.
    const std::vector<std::string> &buttonTitles() const { return m_buttonTitles; }
    void addButton(const std::string &title);

    // The suppression check box ("Do not show this message again") and its state,
    // which the presenter sets when the alert ends.
    bool showsSuppressionButton() const { return m_showsSuppressionButton; }
    void setShowsSuppressionButton(bool shows);
    bool suppressionButtonChecked() const { return m_suppressionButtonChecked; }
    void setSuppressionButtonChecked(bool checked);

    std::int64_t runModal();

    // The presenter every alert goes through; null restores the message-box presenter.
    static void setPresenter(std::shared_ptr<AlertPresenter> presenter);
    static std::shared_ptr<AlertPresenter> presenter();

private:
    std::string m_messageText;
    std::string m_informativeText;
    Style m_style = Style::warning;
    std::vector<std::string> m_buttonTitles;
    bool m_showsSuppressionButton = false;
    bool m_suppressionButtonChecked = false;
};

// Shows an alert modally and answers the index of the button that ended it, in
// the order the buttons were added (0 for the first). Tests register their own.
class TALLOW_EXPORT AlertPresenter
{
public:
    virtual ~AlertPresenter();
    virtual std::size_t present(Alert &alert) = 0;
};

// The desktop presenter: a QMessageBox on the main thread.
class TALLOW_EXPORT MessageBoxAlertPresenter : public AlertPresenter
{
public:
    std::size_t present(Alert &alert) override;
};
