#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "Alert.h"

namespace
{
struct ScriptedPresenter : AlertPresenter
{
    std::size_t present(Alert &alert) override
    {
        shownButtons = alert.buttonTitles();
        return answer;
    }
    std::size_t answer = 0;
    std::vector<std::string> shownButtons;
};

// Registers a presenter for one test and restores the desktop one afterwards.
class AlertTest : public testing::Test
{
protected:
    void TearDown() override { Alert::setPresenter(nullptr); }
};

// The text a label shows, whatever format it renders.
QString visibleText(const QLabel *label)
{
    const bool rich = label->textFormat() == Qt::RichText
                      || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    if (!rich)
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

// Waits for the modal message box, lets the check inspect it, then clicks the
// button with the given title.
void answerMessageBox(const QString &buttonTitle, std::function<void(QMessageBox *)> inspect = {})
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll->stop();
        poll->deleteLater();
        if (inspect)
            inspect(box);
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == buttonTitle) {
                button->click();
                return;
            }
        }
        ADD_FAILURE() << "no button titled " << buttonTitle.toStdString();
        box->buttons().front()->click();
    });
    poll->start(10);
}
}

TEST_F(AlertTest, BuilderAddsButtonsInOrderAndOtherOnlyAfterAlternate)
{
    const Alert all = Alert::alert("Message", "OK", std::string("Cancel"), std::string("More"), std::string("100% of %@"));
    EXPECT_EQ(all.buttonTitles(), (std::vector<std::string>{"OK", "Cancel", "More"}));
    EXPECT_EQ(all.informativeText(), "100% of %@") << "the text is never a format";

    const Alert noAlternate = Alert::alertWithMessageTextCompat("Message", "OK", std::nullopt, std::string("More"), std::nullopt);
    EXPECT_EQ(noAlternate.buttonTitles(), (std::vector<std::string>{"OK"}));
    EXPECT_EQ(noAlternate.informativeText(), "");
}

TEST_F(AlertTest, RunModalAnswersThousandPlusTheOrderAdded)
{
    auto presenter = std::make_shared<ScriptedPresenter>();
    Alert::setPresenter(presenter);
    presenter->answer = 2;
    Alert alert = Alert::alert("Keep clean?", "Keep Clean", std::string("Ask Next Time"), std::string("Don't Clean"), std::nullopt);
    EXPECT_EQ(alert.runModal(), 1002);

    presenter->answer = 0;
    Alert bare;
    EXPECT_EQ(bare.runModal(), 1000);
    EXPECT_EQ(presenter->shownButtons, (std::vector<std::string>{"OK"})) << "an alert without buttons gets OK";
}

TEST_F(AlertTest, RealMessageBoxMapsTheClickedButtonByOrderAdded)
{
    Alert alert = Alert::alert("Drag Tarnwick to your Applications folder.", "Quit", std::string("Continue"),
                               std::string("Help"), std::string("<b>not bold</b>\n  indented"));
    alert.setStyle(Alert::Style::informational);
    alert.setShowsSuppressionButton(true);

    QString shownInformative;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    answerMessageBox("Continue", [&](QMessageBox *box) {
        for (QLabel *label : box->findChildren<QLabel *>())
            if (label->text() == box->informativeText())
                shownInformative = visibleText(label);
        shownIcon = box->icon();
        EXPECT_EQ(box->buttons().size(), 3);
        ASSERT_NE(box->checkBox(), nullptr);
        box->checkBox()->setChecked(true);
    });
    EXPECT_EQ(alert.runModal(), 1001);
    EXPECT_TRUE(alert.suppressionButtonChecked());
    EXPECT_EQ(shownInformative, QStringLiteral("<b>not bold</b>\n  indented")) << "shown exactly as given";
    EXPECT_EQ(shownIcon, QMessageBox::Information);

    Alert single = Alert::alert("Sorry, missing type info.", "OK", std::nullopt, std::string("ignored"), std::nullopt);
    answerMessageBox("OK");
    EXPECT_EQ(single.runModal(), 1000);
    EXPECT_FALSE(single.suppressionButtonChecked());
}
