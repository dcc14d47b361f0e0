#include "LogWindowController.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "FileManagerExtensions.h"
#include "Logger.h"
#include "MainThread.h"
#include "TestSupport.h"
#include "Screenshot.h"

namespace
{
// Runs the main queue until everything posted so far, and what that posted in turn, has run.
void drain()
{
    for (int round = 0; round < 3; ++round) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        MainThread::post([done] { *done = true; });
        ASSERT_TRUE(runEventLoopUntil([&] { return done->load(); }));
    }
}

// Keeps the system log's copy on standard error out of the test output while a burst is logged.
class QuietStandardError
{
public:
    QuietStandardError()
        : m_saved(dup(STDERR_FILENO))
    {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~QuietStandardError()
    {
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
    }
    QuietStandardError(const QuietStandardError &) = delete;
    QuietStandardError &operator=(const QuietStandardError &) = delete;

private:
    int m_saved;
};

QString text()
{
    return LogWindowController::shared()->logTextView()->toPlainText();
}

// The numbers of the lines "<date> <prefix><number>" in the log window, in order.
std::vector<int> numberedLines(const std::string &prefix)
{
    std::vector<int> numbers;
    std::istringstream lines(text().toStdString());
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(prefix);
        if (at != std::string::npos)
            numbers.push_back(std::stoi(line.substr(at + prefix.size())));
    }
    return numbers;
}

class LogWindowControllerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const std::string folder = FileManager::appCachesDirectory().path();
        today = folder + "/Today's Log.txt";
        yesterday = folder + "/Yesterday's Log.txt";
        writeFile(yesterday, "yesterday one\nyesterday two\n");
        writeFile(today, "today one\n");
    }

    void TearDown() override
    {
        if (LogWindowController::shared())
            LogWindowController::shared()->window()->close();
        LogWindowController::shared().reset();
        drain();
    }

    // "Show Log", waiting until the window shows and listens to the log.
    void showLog()
    {
        LogWindowController::showLogUserAction();
        ASSERT_TRUE(LogWindowController::shared());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(LogWindowController::shared()->window()));
        drain();
    }

    std::string today;
    std::string yesterday;
};

TEST_F(LogWindowControllerTest, OpensWithYesterdaysAndTodaysText)
{
    showLog();
    QWidget *window = LogWindowController::shared()->window();
    EXPECT_EQ(window->objectName(), QLatin1String("LogWindowController"));
    EXPECT_EQ(LogWindowController::shared()->logTextView()->objectName(), QLatin1String("logTextView"));
    EXPECT_EQ(text(), QLatin1String("yesterday one\nyesterday two\ntoday one\n"));
    EXPECT_TRUE(window->isActiveWindow());
}

TEST_F(LogWindowControllerTest, ANewLineIsAppendedInTheTypingAttributesAndScrolledTo)
{
    std::string many;
    for (int line = 0; line < 300; ++line)
        many += "earlier line " + std::to_string(line) + "\n";
    writeFile(today, many);
    showLog();
    QPlainTextEdit *view = LogWindowController::shared()->logTextView();
    QScrollBar *scroller = view->verticalScrollBar();
    ASSERT_GT(scroller->maximum(), 0);
    EXPECT_EQ(scroller->value(), scroller->maximum());
    scroller->setValue(0);
    QTextCharFormat typing = view->currentCharFormat();
    typing.setForeground(QColor(200, 30, 40));
    view->setCurrentCharFormat(typing);

    Logger::shared().log("a fresh line");
    ASSERT_TRUE(runEventLoopUntil([] { return text().endsWith(QLatin1String(" a fresh line\n")); }));
    EXPECT_TRUE(text().startsWith(QLatin1String("yesterday one\nyesterday two\nearlier line 0\n")));
    EXPECT_EQ(scroller->value(), scroller->maximum());
    const QTextBlock added = view->document()->lastBlock().previous();
    EXPECT_TRUE(added.text().endsWith(QLatin1String(" a fresh line")));
    QTextCursor inside(added);
    inside.movePosition(QTextCursor::Right);
    EXPECT_EQ(inside.charFormat().foreground().color(), QColor(200, 30, 40));
    saveScreenshot(LogWindowController::shared()->window(), "log-window");
}

TEST_F(LogWindowControllerTest, ShowLogWhileOpenOnlyBringsItToTheFront)
{
    showLog();
    const std::shared_ptr<LogWindowController> first = LogWindowController::shared();
    writeFile(today, "today one\nwritten behind the window's back\n");
    LogWindowController::showLogUserAction();
    EXPECT_EQ(LogWindowController::shared(), first);
    EXPECT_EQ(text(), QLatin1String("yesterday one\nyesterday two\ntoday one\n"));
}

TEST_F(LogWindowControllerTest, ClosingForgetsTheWindowAndReopeningReadsTheFilesAgain)
{
    showLog();
    QPointer<QWidget> closed = LogWindowController::shared()->window();
    std::weak_ptr<LogWindowController> closedController = LogWindowController::shared();
    closed->close();
    EXPECT_FALSE(LogWindowController::shared());
    EXPECT_TRUE(closedController.expired());
    ASSERT_TRUE(runEventLoopUntil([&closed] { return closed.isNull(); }));
    // A line logged now reaches no window: the closed one has left the listeners.
    Logger::shared().log("while closed");
    drain();

    writeFile(yesterday, "new yesterday\n");
    showLog();
    EXPECT_TRUE(text().startsWith(QLatin1String("new yesterday\ntoday one\n")));
    EXPECT_TRUE(text().endsWith(QLatin1String(" while closed\n")));
}

TEST_F(LogWindowControllerTest, ABurstOfLinesFromAnotherThreadArrivesInOrderOnce)
{
    showLog();
    constexpr int count = 10000;
    {
        QuietStandardError quiet;
        std::thread burst([] {
            for (int line = 0; line < count; ++line)
                Logger::shared().log("burst " + std::to_string(line));
        });
        // The main thread keeps turning while the lines arrive.
        int turns = 0;
        while (numberedLines("burst ").size() < count && turns < 100000) {
            QTest::qWait(5);
            ++turns;
        }
        burst.join();
    }
    drain();
    const std::vector<int> numbers = numberedLines("burst ");
    ASSERT_EQ(numbers.size(), std::size_t(count));
    for (int line = 0; line < count; ++line)
        ASSERT_EQ(numbers[std::size_t(line)], line);
    EXPECT_TRUE(text().startsWith(QLatin1String("yesterday one\nyesterday two\ntoday one\n")));
}

TEST_F(LogWindowControllerTest, LinesThatArriveTogetherAreAddedInOneStep)
{
    showLog();
    QTextDocument *document = LogWindowController::shared()->logTextView()->document();
    int changes = 0;
    QObject::connect(document, &QTextDocument::contentsChange, document, [&changes] { ++changes; });
    constexpr int count = 10000;
    {
        QuietStandardError quiet;
        for (int line = 0; line < count; ++line)
            Logger::shared().log("together " + std::to_string(line));
    }
    ASSERT_TRUE(runEventLoopUntil([] { return numberedLines("together ").size() == std::size_t(count); }));
    EXPECT_LE(changes, 2);
    EXPECT_EQ(numberedLines("together ").back(), count - 1);
}
}
