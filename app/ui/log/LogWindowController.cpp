#include "LogWindowController.h"

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include <functional>

#include "ui_LogWindowController.h"
#include "Logger.h"
#include "MainThread.h"

namespace
{
// The log window tells whoever holds its close handler that it is closing.
class LogWindow : public QWidget
{
public:
    std::function<void()> windowWillClose;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (windowWillClose) {
            const std::function<void()> handler = windowWillClose;
            handler();
        }
        event->accept();
    }
};
}

LogWindowController::LogWindowController(PassKey)
    : m_ui(std::make_unique<Ui::LogWindowController>())
{
}

LogWindowController::~LogWindowController()
{
    // The controller may go while its window is still closing.
    if (m_window)
        m_window->deleteLater();
}

std::shared_ptr<LogWindowController> &LogWindowController::shared()
{
    static std::shared_ptr<LogWindowController> controller;
    return controller;
}

void LogWindowController::show()
{
    std::shared_ptr<LogWindowController> &controller = shared();
    if (!controller)
        controller = std::make_shared<LogWindowController>(PassKey{});
    QWidget *window = controller->window();
    window->show();
    window->raise();
    window->activateWindow();
}

void LogWindowController::showLogUserAction()
{
    show();
    static_cast<LogWindow *>(shared()->window())->windowWillClose = &LogWindowController::windowWillClose;
}

void LogWindowController::windowWillClose()
{
    shared().reset();
}

QWidget *LogWindowController::window()
{
    if (!m_window) {
        auto *window = new LogWindow;
        // Closing the log never ends the application.
        window->setAttribute(Qt::WA_QuitOnClose, false);
        m_ui->setupUi(window);
        m_window = window;
        windowDidLoad();
    }
    return m_window;
}

QPlainTextEdit *LogWindowController::logTextView() const
{
    return m_ui->logTextView;
}

void LogWindowController::windowDidLoad()
{
    if (const std::optional<std::string> contents = Logger::shared().logContents())
        logTextView()->setPlainText(QString::fromStdString(*contents));
    Logger::shared().addDelegate(shared_from_this());
    scrollToEnd();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void LogWindowController::addToLogString(const std::string &s)
{
    m_pendingLines += s;
    if (m_appendScheduled)
        return;
    m_appendScheduled = true;
    MainThread::post([weakController = weak_from_this()] {
        if (const std::shared_ptr<LogWindowController> controller = weakController.lock())
            controller->appendPendingLines();
    });
}

void LogWindowController::appendPendingLines()
{
    m_appendScheduled = false;
    const QString lines = QString::fromStdString(m_pendingLines);
    m_pendingLines.clear();
    if (!m_window)
        return;
    QTextCursor end(logTextView()->document());
    end.movePosition(QTextCursor::End);
    // The view's typing attributes give the lines its font and colour.
    end.insertText(lines, logTextView()->currentCharFormat());
    scrollToEnd();
}

void LogWindowController::scrollToEnd()
{
    QScrollBar *scroller = logTextView()->verticalScrollBar();
    scroller->setValue(scroller->maximum());
}
