#include "XProgressWindow.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>

#include <algorithm>
#include <climits>

#include "ui_Progress.h"
#include "Alert.h"
#include "Bundle.h"
#include "DeletionsLog.h"
#include "GCDAdditions.h"
#include "LocalizedString.h"
#include "Logger.h"
#include "MainThread.h"
#include "NumberFormatting.h"
#include "PreferencesSupport.h"
#include "ProgressWindowWidget.h"
#include "StringExtensions.h"
#include "UserDefaults.h"

namespace
{
constexpr auto refreshInterval = std::chrono::milliseconds(100);

QString qString(const std::string &string)
{
    return QString::fromStdString(string);
}

// The desktop's icon for the item at the path. Main thread only.
QIcon workspaceIcon(const std::string &path)
{
    static const QFileIconProvider provider;
    return provider.icon(QFileInfo(qString(path)));
}

int clampedToInt(double value)
{
    return int(std::clamp(value, double(INT_MIN), double(INT_MAX)));
}
}

XProgressWindow::XProgressWindow(PassKey)
    : m_lastProgressUpdate(MonotonicClock::now())
{
}

XProgressWindow::~XProgressWindow()
{
    // The last reference may go on the engine's thread; widgets are deleted on the main thread.
    if (m_window)
        MainThread::post([window = m_window] { delete window; });
}

std::vector<std::shared_ptr<XProgressWindow>> &XProgressWindow::allProgressWindows()
{
    // Never destroyed: a window may outlive the application object at exit.
    static auto *windows = new std::vector<std::shared_ptr<XProgressWindow>>;
    return *windows;
}

std::shared_ptr<XProgressWindow> XProgressWindow::makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                                 const URL &rootItemToClean)
{
    std::vector<std::shared_ptr<XProgressWindow>> &pool = allProgressWindows();
    std::shared_ptr<XProgressWindow> window;
    const auto finished = std::find_if(pool.begin(), pool.end(),
                                       [](const std::shared_ptr<XProgressWindow> &w) { return !w->m_isBusy; });
    if (finished != pool.end()) {
        window = *finished;
        window->resetForNewClean();
        // The engine of the finished clean is waiting for its window to close; taking the
        // window over is that close as far as the engine is concerned.
        const std::shared_ptr<XEngineParent> previous = window->m_parent.lock();
        if (previous && previous != parent)
            previous->progressWindowClosed();
    } else {
        window = std::make_shared<XProgressWindow>(PassKey{});
        window->loadWindow();
        pool.push_back(window);
    }

    {
        std::lock_guard lock(window->m_mutex);
        window->m_rootItemToClean = rootItemToClean;
    }
    window->onMain([](XProgressWindow &self) { self.showRoot(); });
    window->m_parent = parent;
    window->makeKeyAndOrderFront();
    return window;
}

std::shared_ptr<XProgressWindow> XProgressWindow::isAlreadyCleaning(const URL &rootItemToClean)
{
    for (const std::shared_ptr<XProgressWindow> &window : allProgressWindows()) {
        if (window->m_isBusy && window->rootItemToClean() == rootItemToClean)
            return window;
    }
    return nullptr;
}

void XProgressWindow::resetForNewClean()
{
    if (m_manualCleanDeletions)
        m_manualCleanDeletions->empty();
    {
        std::lock_guard lock(m_mutex);
        m_numberOfItemsDeleted = 0;
        m_itemsExamined = 0;
    }
    m_isBusy = true;
    m_userCanceled = false;
    std::lock_guard lock(m_messageMutex);
    m_totalMessagesLogged = 0;
}

void XProgressWindow::loadWindow()
{
    m_window = new ProgressWindowWidget(weak_from_this());
    m_manualCleanDeletions = m_window->manualCleanDeletions();
    windowDidLoad();
}

void XProgressWindow::windowDidLoad()
{
    Ui::Progress &outlets = m_window->outlets();
    outlets.secondLineLeftText->setText(qString(LSFK("Metadata Items Deleted:")));
    outlets.progressSpinner->hide();
    outlets.secondLineRightText->setText(QStringLiteral("0"));
    if (const std::optional<std::string> path = Bundle::main().pathForResource("Tarnwick16x16Icons", "icns")) {
        const QImage image(qString(*path));
        if (!image.isNull())
            setWindowTitleIcon(QIcon(QPixmap::fromImage(image)));
    }
}

void XProgressWindow::makeKeyAndOrderFront()
{
    if (!m_window)
        return;
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

QWidget *XProgressWindow::window() const
{
    return m_window;
}

URL XProgressWindow::rootItemToClean() const
{
    std::lock_guard lock(m_mutex);
    return m_rootItemToClean;
}

std::int64_t XProgressWindow::numberOfItemsDeleted() const
{
    std::lock_guard lock(m_mutex);
    return m_numberOfItemsDeleted;
}

std::int64_t XProgressWindow::itemsExamined() const
{
    std::lock_guard lock(m_mutex);
    return m_itemsExamined;
}

void XProgressWindow::setWindowTitleIcon(const QIcon &image)
{
    if (!m_window || image.isNull())
        return;
    m_window->setWindowIcon(QIcon(image.pixmap(windowTitleIconSize)));
}

void XProgressWindow::cancelButton()
{
    m_userCanceled = true;
}

void XProgressWindow::windowWillClose()
{
    if (m_closed)
        return;
    m_closed = true;
    m_userCanceled = true;
    if (const std::shared_ptr<XEngineParent> parent = m_parent.lock())
        parent->progressWindowClosed();

    std::vector<std::shared_ptr<XProgressWindow>> &pool = allProgressWindows();
    std::vector<std::shared_ptr<XProgressWindow>> leaving;
    for (auto it = pool.begin(); it != pool.end();) {
        if (it->get() == this) {
            leaving.push_back(std::move(*it));
            it = pool.erase(it);
        } else {
            ++it;
        }
    }
    // Let go on a later turn: this runs inside the window's own close.
    MainThread::post([leaving = std::move(leaving)] {});
}

bool XProgressWindow::isTimeForUpdate()
{
    const MonotonicClock::TimePoint now = MonotonicClock::now();
    std::lock_guard lock(m_mutex);
    const auto elapsed = now - m_lastProgressUpdate;
    if (std::chrono::abs(elapsed) <= refreshInterval)
        return false;
    m_lastProgressUpdate = now;
    return true;
}

void XProgressWindow::updateUI(bool flush)
{
    if (!flush && !isTimeForUpdate())
        return;
    onMain([](XProgressWindow &self) { self.refreshDisplay(); });
}

void XProgressWindow::refreshDisplay()
{
    std::string text;
    std::int64_t deleted = 0;
    std::int64_t examined = 0;
    std::optional<std::string> image;
    {
        std::lock_guard lock(m_mutex);
        text = m_progressFeedbackText;
        deleted = m_numberOfItemsDeleted;
        examined = m_itemsExamined;
        image = m_progressImage;
    }
    Ui::Progress &outlets = m_window->outlets();
    outlets.mainText->setText(qString(text));
    outlets.secondLineRightText->setText(qString(NumberFormatter::decimal(deleted)));
    outlets.itemsExaminedText->setText(qString(NumberFormatter::decimal(examined)));
    m_barValue = double(examined);
    applyProgressBar();

    if (image == m_lastProgressImage)
        return;
    outlets.progressIcon->setPixmap(image ? workspaceIcon(*image).pixmap(outlets.progressIcon->maximumSize())
                                          : QPixmap());
    m_lastProgressImage = image;
}

void XProgressWindow::applyProgressBar()
{
    QProgressBar *bar = m_window->outlets().progressBar;
    if (m_barIndeterminate) {
        bar->setRange(0, 0);
        return;
    }
    // An empty range is Qt's busy bar; an empty determinate bar keeps a range of one.
    const int maximum = std::max(clampedToInt(m_barMaximum), 0);
    bar->setRange(0, std::max(maximum, 1));
    bar->setValue(std::clamp(clampedToInt(m_barValue), 0, maximum));
}

void XProgressWindow::showRoot()
{
    const URL root = rootItemToClean();
    m_window->setWindowTitle(qString(LSFK("Cleaning") + " " + root.lastPathComponent()));
    setWindowTitleIcon(workspaceIcon(root.path()));
    // A Qt progress bar animates by itself whenever it is indeterminate.
}

void XProgressWindow::onMain(std::function<void(XProgressWindow &)> step)
{
    GCDAdditions::onMain([weak = weak_from_this(), step = std::move(step)] {
        if (const std::shared_ptr<XProgressWindow> self = weak.lock())
            step(*self);
    });
}

void XProgressWindow::setRoot(const URL &root)
{
    {
        std::lock_guard lock(m_mutex);
        m_rootItemToClean = root;
    }
    onMain([](XProgressWindow &self) { self.showRoot(); });
}

void XProgressWindow::progressFeedback(const std::string &text, bool flushMessage)
{
    {
        std::lock_guard lock(m_mutex);
        m_progressFeedbackText = text;
    }
    updateUI(flushMessage);
}

void XProgressWindow::displayCleaningProgressForFolder(const URL &folder)
{
    {
        std::lock_guard lock(m_mutex);
        if (folder != m_rootItemToClean)
            m_progressFeedbackText =
                "Cleaning \u201C" + dropPrefix(folder.path(), m_rootItemToClean.path() + "/") + "\u201D...";
        m_progressImage = folder.path();
    }
    updateUI(false);
}

void XProgressWindow::setProgressFeedbackIcon(const std::string &path, bool flushIcon)
{
    if (!flushIcon && !isTimeForUpdate())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_progressImage = path;
    }
    updateUI(false);
}

bool XProgressWindow::userHasCanceled()
{
    return m_userCanceled;
}

void XProgressWindow::showError(const std::string &text)
{
    GCDAdditions::onMain([text] {
        Alert alert;
        alert.setMessageText(text);
        alert.runModal();
    });
}

void XProgressWindow::setNumberOfItemsExamined(std::int64_t count)
{
    {
        std::lock_guard lock(m_mutex);
        m_itemsExamined = count;
    }
    updateUI(false);
}

void XProgressWindow::setProgressIndicatorMaxValue(std::int64_t value)
{
    onMain([value](XProgressWindow &self) {
        self.m_barMaximum = double(value);
        self.applyProgressBar();
    });
}

void XProgressWindow::ioIsSlow(bool slow)
{
    onMain([slow](XProgressWindow &self) { self.m_window->outlets().progressSpinner->setVisible(slow); });
}

void XProgressWindow::setIndeterminate(bool indeterminate)
{
    onMain([indeterminate](XProgressWindow &self) {
        self.m_barIndeterminate = indeterminate;
        self.applyProgressBar();
    });
}

void XProgressWindow::incrementNumberOfItemsDeleted()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_numberOfItemsDeleted;
    }
    updateUI(false);
}

void XProgressWindow::logMsg(const std::string &line)
{
    if (PreferencesSupport::standardUserDefaults().boolForKey("logDeletions"))
        Logger::shared().log(line);

    std::vector<std::string> lines;
    {
        std::lock_guard lock(m_messageMutex);
        m_messageBuffer.push_back(line);
        ++m_totalMessagesLogged;
        if (m_totalMessagesLogged > linesSentOneByOne && m_messageBuffer.size() < messageBatchSize)
            return;
        lines.swap(m_messageBuffer);
    }
    onMain([lines = std::move(lines)](XProgressWindow &self) { self.flushMessageBuffer(lines, false); });
}

void XProgressWindow::logMsgs(const std::vector<std::string> &lines)
{
    if (lines.empty())
        return;
    if (PreferencesSupport::standardUserDefaults().boolForKey("logDeletions"))
        Logger::shared().log(lines);

    std::vector<std::string> batch;
    {
        std::lock_guard lock(m_messageMutex);
        batch.swap(m_messageBuffer);
        batch.insert(batch.end(), lines.begin(), lines.end());
        m_totalMessagesLogged += std::int64_t(lines.size());
    }
    onMain([batch = std::move(batch)](XProgressWindow &self) { self.flushMessageBuffer(batch, false); });
}

void XProgressWindow::flush()
{
    std::vector<std::string> lines;
    {
        std::lock_guard lock(m_messageMutex);
        lines.swap(m_messageBuffer);
    }
    onMain([lines = std::move(lines)](XProgressWindow &self) { self.flushMessageBuffer(lines, true); });
    updateUI(true);
}

void XProgressWindow::flushMessageBuffer(const std::vector<std::string> &lines, bool showNow)
{
    if (!m_manualCleanDeletions)
        return;
    m_manualCleanDeletions->logMsg(lines);
    if (showNow)
        m_manualCleanDeletions->showPendingLines();
}

void XProgressWindow::finishedCleaning()
{
    onMain([](XProgressWindow &self) {
        self.m_barValue = 0;
        self.m_barIndeterminate = false;
        self.applyProgressBar();
        self.m_isBusy = false;
    });
}

void XProgressWindow::closeProgressWindow()
{
    onMain([](XProgressWindow &self) {
        if (self.m_window)
            self.m_window->close();
    });
}

bool XProgressWindow::deallocAfterCleaningFinished() const
{
    return false;
}
