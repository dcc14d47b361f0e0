#pragma once

#include <QPointer>

#include <memory>
#include <string>

#include "LogDelegate.h"

namespace Ui
{
class LogWindowController;
}

class QPlainTextEdit;
class QWidget;

// The log window: yesterday's and today's log when it opens, then every new line as it is
// logged. At most one exists, held by shared(); closing the window forgets it, so the next
// showing reads the files afresh. Lines that arrive together are added in one step per turn of
// the event loop, so a burst of lines neither stalls the main thread nor lays out the text per
// line. Main thread only.
class LogWindowController : public LogDelegate, public std::enable_shared_from_this<LogWindowController>
{
    struct PassKey
    {
    };

public:
    explicit LogWindowController(PassKey);
    ~LogWindowController() override;
    LogWindowController(const LogWindowController &) = delete;
    LogWindowController &operator=(const LogWindowController &) = delete;

    // The open log window's controller; null when there is none. Settable from outside.
    static std::shared_ptr<LogWindowController> &shared();

    // Brings the log window to the front, making one when there is none.
    static void show();
    // The application's "Show Log": show(), and the window's closing reaches windowWillClose().
    static void showLogUserAction();
    // The application's answer to the log window closing: the window is forgotten.
    static void windowWillClose();

    // The window, loaded from its interface file on first use.
    QWidget *window();
    QPlainTextEdit *logTextView() const;

    void windowDidLoad();
    void addToLogString(const std::string &s) override;

private:
    void appendPendingLines();
    void scrollToEnd();

    std::unique_ptr<Ui::LogWindowController> m_ui;
    QPointer<QWidget> m_window;
    std::string m_pendingLines;
    bool m_appendScheduled = false;
};
