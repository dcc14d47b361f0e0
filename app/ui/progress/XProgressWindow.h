#pragma once

#include <QIcon>
#include <QPointer>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MonotonicClock.h"
#include "URL.h"
#include "XEngineParent.h"
#include "XProgressProtocol.h"

class DeletionsLog;
class ProgressWindowWidget;

// The progress window of a clean the user sees: status line, two counters, progress
// bar, busy spinner, the icon of the item being worked on and the growing list of
// deletions, with Cancel. The engine calls it from its run thread; every change of a
// control is moved to the main thread, and the display is refreshed at most once per
// 0.1 seconds unless a caller asks for a flush.
//
// Open windows are pooled; a finished window that is still open is taken over by
// the next clean. Closing a window cancels its clean and lets its engine go.
class XProgressWindow : public XProgressProtocol, public std::enable_shared_from_this<XProgressWindow>
{
    struct PassKey
    {
    };

public:
    explicit XProgressWindow(PassKey);
    ~XProgressWindow() override;
    XProgressWindow(const XProgressWindow &) = delete;
    XProgressWindow &operator=(const XProgressWindow &) = delete;

    // Main thread. The window for a new clean: the first open window that has
    // finished its clean, emptied and reset, else a new one; shown in front.
    static std::shared_ptr<XProgressWindow> makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                           const URL &rootItemToClean);
    // Main thread. The first pooled window busy with that root, if any.
    static std::shared_ptr<XProgressWindow> isAlreadyCleaning(const URL &rootItemToClean);

    // Main thread: brings the window to the front, makes it key and activates the application.
    void makeKeyAndOrderFront();
    // Main thread: the window, also after it has closed.
    QWidget *window() const;

    // Main thread.
    bool isBusy() const { return m_isBusy; }
    URL rootItemToClean() const;
    std::int64_t numberOfItemsDeleted() const;
    std::int64_t itemsExamined() const;

    // Main thread: the window's actions.
    void setWindowTitleIcon(const QIcon &image);
    void cancelButton();
    void windowWillClose();

    // The refresh throttle: true when more than 0.1 seconds have passed since the
    // last true answer, which this answer then consumes.
    bool isTimeForUpdate();
    void updateUI(bool flush);

    // What the engine tells the window, from any thread.
    void setRoot(const URL &root) override;
    void progressFeedback(const std::string &text, bool flushMessage) override;
    void displayCleaningProgressForFolder(const URL &folder) override;
    void setProgressFeedbackIcon(const std::string &path, bool flushIcon) override;
    bool userHasCanceled() override;
    void showError(const std::string &text) override;
    void setNumberOfItemsExamined(std::int64_t count) override;
    void setProgressIndicatorMaxValue(std::int64_t value) override;
    void ioIsSlow(bool slow) override;
    void setIndeterminate(bool indeterminate) override;
    void incrementNumberOfItemsDeleted() override;
    void logMsg(const std::string &line) override;
    // The lines go to the log in one step and to the list in one batch.
    void logMsgs(const std::vector<std::string> &lines) override;
    void flush() override;
    void finishedCleaning() override;
    void closeProgressWindow() override;
    bool deallocAfterCleaningFinished() const override;

    static constexpr QSize windowTitleIconSize{16, 16};
    // From the 100th line of a clean on, lines reach the list in batches of this size.
    static constexpr std::size_t messageBatchSize = 11;
    static constexpr std::int64_t linesSentOneByOne = 99;

private:
    static std::vector<std::shared_ptr<XProgressWindow>> &allProgressWindows();

    void loadWindow();
    void windowDidLoad();
    // The on-main part of setRoot: title, title icon, bar animation.
    void showRoot();
    void resetForNewClean();
    void refreshDisplay();
    // Hands the lines to the list (the empty ones are dropped); a flush shows them at once.
    void flushMessageBuffer(const std::vector<std::string> &lines, bool showNow);
    void applyProgressBar();
    // Runs the step on the main thread later, while this window still exists.
    void onMain(std::function<void(XProgressWindow &)> step);

    // Main thread only.
    ProgressWindowWidget *m_window = nullptr;
    QPointer<DeletionsLog> m_manualCleanDeletions;
    std::weak_ptr<XEngineParent> m_parent;
    bool m_isBusy = true;
    bool m_closed = false;
    std::optional<std::string> m_lastProgressImage;
    bool m_barIndeterminate = true;
    double m_barMaximum = 100;
    double m_barValue = 0;

    // Written on the caller's thread, read by the main-thread steps.
    mutable std::mutex m_mutex;
    URL m_rootItemToClean;
    MonotonicClock::TimePoint m_lastProgressUpdate;
    std::int64_t m_numberOfItemsDeleted = 0;
    std::int64_t m_itemsExamined = 0;
    // The path whose icon is to show next; the icon itself is fetched on the main thread.
    std::optional<std::string> m_progressImage;
    std::string m_progressFeedbackText;

    std::atomic<bool> m_userCanceled = false;

    // The engine's thread, and the main thread when a new clean takes the window over.
    std::mutex m_messageMutex;
    std::vector<std::string> m_messageBuffer;
    std::int64_t m_totalMessagesLogged = 0;
};
