#include "TWApp.h"

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace
{
// Applies the application's editing-shortcut table to every event, as TWApp::notify does.
class EditingShortcutFilter : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override { return TWApp::handleEditingShortcut(watched, event); }
};

// A focusable view that has the editing slots but no key handling of its own: what it records
// came through the table or as a plain key press.
class RecordingEditor : public QWidget
{
    Q_OBJECT

public:
    RecordingEditor() { setFocusPolicy(Qt::StrongFocus); }
    std::vector<std::string> received;

public slots:
    void cut() { received.push_back("cut"); }
    void copy() { received.push_back("copy"); }
    void paste() { received.push_back("paste"); }
    void undo() { received.push_back("undo"); }
    void redo() { received.push_back("redo"); }
    void selectAll() { received.push_back("selectAll"); }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // QTest presses the modifier keys first.
        const int key = event->key();
        if (key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt && key != Qt::Key_Meta)
            received.push_back("keyPress " + QKeySequence(event->keyCombination()).toString().toStdString());
    }
};

class TWAppTest : public testing::Test
{
protected:
    void SetUp() override
    {
        qApp->installEventFilter(&m_filter);
        auto *layout = new QVBoxLayout(&m_window);
        m_editor = new RecordingEditor;
        m_button = new QPushButton("Plain");
        layout->addWidget(m_editor);
        layout->addWidget(m_button);
        m_window.show();
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
        m_editor->setFocus();
        ASSERT_TRUE(runEventLoopUntil([this] { return m_editor->hasFocus(); }));
    }
    void TearDown() override { qApp->removeEventFilter(&m_filter); }

    EditingShortcutFilter m_filter;
    QWidget m_window;
    RecordingEditor *m_editor = nullptr;
    QPushButton *m_button = nullptr;
};
}

TEST_F(TWAppTest, CtrlWithALetterSendsItsEditingActionToTheFocusWidget)
{
    const std::pair<Qt::Key, const char *> table[] = {{Qt::Key_X, "cut"},  {Qt::Key_C, "copy"},
                                                      {Qt::Key_V, "paste"}, {Qt::Key_Z, "undo"},
                                                      {Qt::Key_A, "selectAll"}};
    std::vector<std::string> expected;
    for (const auto &[key, action] : table) {
        QTest::keyClick(m_editor, key, Qt::ControlModifier);
        expected.push_back(action);
    }
    QTest::keyClick(m_editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    expected.push_back("redo");
    EXPECT_EQ(m_editor->received, expected);
}

TEST_F(TWAppTest, CapsLockIsIgnoredAndCtrlWClosesTheActiveWindow)
{
    // Caps Lock only changes the letter's case; Qt reports no modifier for it.
    QTest::sendKeyEvent(QTest::Click, m_editor, Qt::Key_Z, QStringLiteral("Z"), Qt::ControlModifier);
    EXPECT_EQ(m_editor->received, std::vector<std::string>{"undo"});

    QTest::sendKeyEvent(QTest::Click, m_editor, Qt::Key_W, QStringLiteral("W"), Qt::ControlModifier);
    EXPECT_FALSE(m_window.isVisible());
    EXPECT_EQ(m_editor->received, std::vector<std::string>{"undo"});
}

TEST_F(TWAppTest, AltOrMetaOrAnotherLetterMakesNoMatchAndTheKeyGoesOn)
{
    QTest::keyClick(m_editor, Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(m_editor, Qt::Key_Z, Qt::ControlModifier | Qt::MetaModifier);
    QTest::keyClick(m_editor, Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(m_editor, Qt::Key_B, Qt::ControlModifier);
    QTest::keyClick(m_editor, Qt::Key_Z);
    EXPECT_EQ(m_editor->received, (std::vector<std::string>{"keyPress Ctrl+Alt+Z", "keyPress Meta+Ctrl+Z", "keyPress Ctrl+Shift+X",
                                               "keyPress Ctrl+B", "keyPress Z"}));
    EXPECT_TRUE(m_window.isVisible());
}

TEST_F(TWAppTest, AFocusWidgetWithoutTheSlotLeavesTheKeyToItsShortcut)
{
    int shortcutFired = 0;
    QShortcut shortcut(QKeySequence(Qt::CTRL | Qt::Key_X), &m_window);
    QObject::connect(&shortcut, &QShortcut::activated, [&shortcutFired] { ++shortcutFired; });
    m_button->setFocus();
    ASSERT_TRUE(runEventLoopUntil([this] { return m_button->hasFocus(); }));

    QTest::keyClick(m_button, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(shortcutFired, 1);
    EXPECT_TRUE(m_editor->received.empty());
}

TEST_F(TWAppTest, TheTableComesBeforeAMenuShortcutOfTheSameKeys)
{
    QAction menuUndo;
    menuUndo.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    int menuUndoTriggered = 0;
    QObject::connect(&menuUndo, &QAction::triggered, [&menuUndoTriggered] { ++menuUndoTriggered; });
    m_window.addAction(&menuUndo);

    QTest::keyClick(m_editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(m_editor->received, std::vector<std::string>{"undo"});
    EXPECT_EQ(menuUndoTriggered, 0);
}

TEST_F(TWAppTest, ALineEditTakesTheActionsAsItsOwnEditingCommands)
{
    auto *field = new QLineEdit(&m_window);
    m_window.layout()->addWidget(field);
    field->setFocus();
    ASSERT_TRUE(runEventLoopUntil([field] { return field->hasFocus(); }));
    QTest::keyClicks(field, "metadata");
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QString());
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("metadata"));
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(field->text(), QString());
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("metadata"));
}

#include "TWAppTest.moc"
