#include "XProgressWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "Alert.h"
#include "DeletionsLog.h"
#include "Logger.h"
#include "MainThread.h"
#include "MonotonicClock.h"
#include "PreferencesSupport.h"
#include "ProgressWindowFactory.h"
#include "Screenshot.h"
#include "SystemLog.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "XEngine.h"

namespace
{
class FakeEngine : public XEngineParent
{
public:
    void progressWindowClosed() override { ++closedCount; }
    std::atomic<int> closedCount = 0;
};

class RecordingPresenter : public AlertPresenter
{
public:
    std::size_t present(Alert &alert) override
    {
        messages.push_back(alert.messageText());
        return 0;
    }
    std::vector<std::string> messages;
};

std::atomic<std::int64_t> g_nowNanoseconds = 0;

// Runs the main queue until everything posted so far, and what that posted in turn, has run.
void drain()
{
    for (int round = 0; round < 3; ++round) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        MainThread::post([done] { *done = true; });
        ASSERT_TRUE(runEventLoopUntil([&] { return done->load(); }));
    }
}

template <typename T>
T *outlet(const std::shared_ptr<XProgressWindow> &window, const char *name)
{
    T *found = window->window()->findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QString text(const std::shared_ptr<XProgressWindow> &window, const char *name)
{
    return outlet<QLabel>(window, name)->text();
}

DeletionsLog *deletions(const std::shared_ptr<XProgressWindow> &window)
{
    return outlet<DeletionsLog>(window, "manualCleanDeletions");
}

// The lines the window's list has received (they show within a quarter of a second).
int rows(const std::shared_ptr<XProgressWindow> &window)
{
    return int(deletions(window)->lineCount());
}

class XProgressWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        g_nowNanoseconds = std::chrono::nanoseconds(std::chrono::hours(1)).count();
        MonotonicClock::setNowForTesting(
            [] { return MonotonicClock::TimePoint(std::chrono::nanoseconds(g_nowNanoseconds.load())); });
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Alert::setPresenter(presenter);
        root = URL::fileURLWithPath(home.path());
    }

    void TearDown() override
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("Progress") && widget->isVisible())
                widget->close();
        }
        drain();
        PreferencesSupport::standardUserDefaults().removeObjectForKey("logDeletions");
        Alert::setPresenter(nullptr);
        QLocale::setDefault(QLocale::c());
        MonotonicClock::setNowForTesting({});
    }

    static void advanceClock(std::chrono::milliseconds step)
    {
        g_nowNanoseconds += std::chrono::nanoseconds(step).count();
    }

    TemporaryDirectory home;
    URL root;
    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
};

TEST_F(XProgressWindowTest, NewWindowShowsItsRootLabelsAndDocumentIcon)
{
    const auto window = XProgressWindow::makeWithParent(engine, root);
    ASSERT_TRUE(window);
    drain();
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_EQ(window->window()->objectName(), QLatin1String("Progress"));
    EXPECT_EQ(window->window()->windowTitle().toStdString(), "Cleaning " + root.lastPathComponent());
    EXPECT_FALSE(window->window()->windowIcon().isNull());
    EXPECT_EQ(text(window, "secondLineLeftText"), QLatin1String("Metadata Items Deleted:"));
    EXPECT_EQ(text(window, "secondLineRightText"), QLatin1String("0"));
    EXPECT_TRUE(outlet<QProgressBar>(window, "progressSpinner")->isHidden());
    EXPECT_TRUE(window->isBusy());
    EXPECT_FALSE(window->deallocAfterCleaningFinished());
    // The window holds its engine weakly.
    EXPECT_EQ(engine.use_count(), 1);
}

TEST_F(XProgressWindowTest, CallsFromTheRunThreadReachTheControlsOnlyThroughTheMainQueue)
{
    const auto window = XProgressWindow::makeWithParent(engine, root);
    drain();
    std::thread run([&] {
        window->progressFeedback("Starting...", true);
        window->setIndeterminate(false);
        window->setProgressIndicatorMaxValue(5000);
        for (int i = 0; i < 1234; ++i)
            window->incrementNumberOfItemsDeleted();
        window->setNumberOfItemsExamined(2345);
        window->ioIsSlow(true);
        window->deletionMessageForContent("__MACOSX/a.txt", URL::fileURLWithPath(home.file("A.zip")), std::nullopt);
        window->showError("The archive is damaged.");
        window->flush();
        window->progressFeedback("Cleaning completed.", true);
    });
    run.join();
    EXPECT_EQ(text(window, "secondLineRightText"), QLatin1String("0")) << "changed off the main queue";
    EXPECT_EQ(rows(window), 0);

    drain();
    EXPECT_EQ(text(window, "mainText"), QLatin1String("Cleaning completed."));
    EXPECT_EQ(text(window, "secondLineRightText"), QLatin1String("1,234"));
    EXPECT_EQ(text(window, "itemsExaminedText"), QLatin1String("2,345"));
    EXPECT_EQ(outlet<QProgressBar>(window, "progressBar")->maximum(), 5000);
    EXPECT_EQ(outlet<QProgressBar>(window, "progressBar")->value(), 2345);
    EXPECT_TRUE(outlet<QProgressBar>(window, "progressSpinner")->isVisible());
    EXPECT_EQ(presenter->messages, std::vector<std::string>{"The archive is damaged."});
    ASSERT_EQ(rows(window), 1);
    EXPECT_EQ(deletions(window)->line(0), "Deleted __MACOSX/a.txt in A.zip");
    EXPECT_EQ(deletions(window)->rowCount(), 1) << "a flush shows the lines at once";

    std::thread finish([&] {
        window->ioIsSlow(false);
        window->finishedCleaning();
    });
    finish.join();
    EXPECT_TRUE(window->isBusy());
    drain();
    EXPECT_FALSE(window->isBusy());
    EXPECT_TRUE(outlet<QProgressBar>(window, "progressSpinner")->isHidden());
    EXPECT_EQ(outlet<QProgressBar>(window, "progressBar")->value(), 0);
}

TEST_F(XProgressWindowTest, DisplayRefreshesAtMostOncePerTenthOfASecondUnlessFlushed)
{
    const auto window = XProgressWindow::makeWithParent(engine, root);
    drain();
    for (int i = 0; i < 3; ++i)
        window->incrementNumberOfItemsDeleted();
    drain();
    EXPECT_EQ(text(window, "secondLineRightText"), QLatin1String("0"));

    advanceClock(std::chrono::milliseconds(100));
    window->incrementNumberOfItemsDeleted();
    drain();
    EXPECT_EQ(text(window, "secondLineRightText"), QLatin1String("0")) << "exactly 0.1 s is not yet due";

    advanceClock(std::chrono::milliseconds(1));
    window->incrementNumberOfItemsDeleted();
    drain();
    EXPECT_EQ(text(window, "secondLineRightText"), QLatin1String("5"));
    window->incrementNumberOfItemsDeleted();
    drain();
    EXPECT_EQ(text(window, "secondLineRightText"), QLatin1String("5")) << "the refresh consumed the interval";

    window->progressFeedback("Now", true);
    drain();
    EXPECT_EQ(text(window, "secondLineRightText"), QLatin1String("6"));
    EXPECT_EQ(text(window, "mainText"), QLatin1String("Now"));

    advanceClock(std::chrono::milliseconds(150));
    EXPECT_TRUE(window->isTimeForUpdate());
    EXPECT_FALSE(window->isTimeForUpdate());
}

TEST_F(XProgressWindowTest, FolderProgressWordsThePathBelowTheRoot)
{
    const auto window = XProgressWindow::makeWithParent(engine, root);
    window->progressFeedback("Starting...", true);
    const auto showFolder = [&](const std::string &path) {
        advanceClock(std::chrono::milliseconds(200));
        window->displayCleaningProgressForFolder(URL::fileURLWithPath(path));
        drain();
        return text(window, "mainText").toStdString();
    };
    EXPECT_EQ(showFolder(root.path()), "Starting...");
    EXPECT_FALSE(outlet<QLabel>(window, "progressIcon")->pixmap().isNull());
    EXPECT_EQ(showFolder(root.path() + "/Photos/2024"), "Cleaning \u201CPhotos/2024\u201D...");
    EXPECT_EQ(showFolder("/elsewhere/x"), "Cleaning \u201C/elsewhere/x\u201D...");
}

TEST_F(XProgressWindowTest, LinesReachTheListOneByOneThenInBatchesOfEleven)
{
    const auto window = XProgressWindow::makeWithParent(engine, root);
    std::thread run([&] {
        window->logMsg("");
        for (int line = 2; line <= 99; ++line)
            window->logMsg("line " + std::to_string(line));
    });
    run.join();
    drain();
    EXPECT_EQ(rows(window), 98) << "the empty line is counted but makes no row";

    for (int line = 100; line <= 109; ++line)
        window->logMsg("line " + std::to_string(line));
    drain();
    EXPECT_EQ(rows(window), 98);
    window->logMsg("line 110");
    window->logMsg("line 111");
    drain();
    EXPECT_EQ(rows(window), 109);

    window->flush();
    drain();
    DeletionsLog *list = deletions(window);
    ASSERT_EQ(list->lineCount(), 110u);
    EXPECT_EQ(list->line(0), "line 2");
    EXPECT_EQ(list->line(109), "line 111");
    ASSERT_EQ(list->rowCount(), 110);
    EXPECT_EQ(list->data(list->index(109, 0)).toString(), QLatin1String("line 111"));
}

TEST_F(XProgressWindowTest, TheListShowsItsNewLinesAQuarterOfASecondAtATimeNotLineByLine)
{
    const auto window = XProgressWindow::makeWithParent(engine, root);
    DeletionsLog *list = deletions(window);
    int insertions = 0;
    QObject::connect(list, &QAbstractItemModel::rowsInserted, [&insertions] { ++insertions; });
    std::thread run([&] {
        for (int line = 1; line <= 500; ++line)
            window->logMsg("Deleted ._photo" + std::to_string(line) + ".jpg in Holiday");
    });
    run.join();
    drain();
    EXPECT_EQ(list->lineCount(), 495u) << "five lines wait for a batch of eleven";
    ASSERT_TRUE(runEventLoopUntil([list] { return list->rowCount() == 495; }));
    EXPECT_LT(insertions, 5) << "shown in a step or two, not line by line";
    EXPECT_EQ(list->data(list->index(0, 0)).toString(), QLatin1String("Deleted ._photo1.jpg in Holiday"));
    EXPECT_EQ(list->roleNames().value(Qt::DisplayRole), QByteArray("path"));

    // A new clean taking the window over empties it, lines still waiting included.
    window->logMsg("Deleted .DS_Store in Holiday");
    window->flush();
    drain();
    window->finishedCleaning();
    drain();
    EXPECT_EQ(list->rowCount(), 501) << "the five waiting lines and the last one";
    list->logMsg({"waiting"});
    EXPECT_EQ(list->rowCount(), 501) << "a line handed over is not shown at once";
    const auto next = XProgressWindow::makeWithParent(std::make_shared<FakeEngine>(), root);
    ASSERT_EQ(next, window);
    EXPECT_EQ(list->lineCount(), 0u);
    EXPECT_EQ(list->rowCount(), 0);
    runEventLoopFor(std::chrono::milliseconds(400));
    EXPECT_EQ(list->rowCount(), 0);
}

TEST_F(XProgressWindowTest, WithLogDeletionsOnEveryLineAlsoGoesToTheLog)
{
    std::mutex mutex;
    std::vector<std::string> logged;
    const int sink = SystemLog::addSink([&](const std::string &message) {
        std::lock_guard lock(mutex);
        logged.push_back(message);
    });
    const auto window = XProgressWindow::makeWithParent(engine, root);
    PreferencesSupport::standardUserDefaults().setObject(Value(false), "logDeletions");
    window->logMsg("before");
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "logDeletions");
    window->logMsg("Deleted x on Stick");
    window->logMsg("");
    SystemLog::removeSink(sink);
    std::lock_guard lock(mutex);
    EXPECT_EQ(logged, (std::vector<std::string>{"Deleted x on Stick", ""}));
}

TEST_F(XProgressWindowTest, CancelButtonStopsTheRunButKeepsTheWindow)
{
    const auto window = XProgressWindow::makeWithParent(engine, root);
    drain();
    EXPECT_FALSE(window->userHasCanceled());
    QTest::mouseClick(outlet<QPushButton>(window, "progressButton"), Qt::LeftButton);
    bool seenByRun = false;
    std::thread run([&] { seenByRun = window->userHasCanceled(); });
    run.join();
    EXPECT_TRUE(seenByRun);
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_EQ(engine->closedCount, 0);
}

TEST_F(XProgressWindowTest, ClosingDuringACleanCancelsItAndReleasesTheEngine)
{
    auto window = XProgressWindow::makeWithParent(engine, root);
    drain();
    window->window()->close();
    EXPECT_TRUE(window->userHasCanceled());
    EXPECT_EQ(engine->closedCount, 1);
    EXPECT_EQ(XProgressWindow::isAlreadyCleaning(root), nullptr);

    // The run goes on talking to its closed window until it ends.
    std::thread run([&] {
        window->logMsg("late line");
        window->progressFeedback("Cleaning stopped.", true);
        window->finishedCleaning();
        window->closeProgressWindow();
    });
    run.join();
    drain();
    EXPECT_EQ(text(window, "mainText"), QLatin1String("Cleaning stopped."));
    EXPECT_EQ(engine->closedCount, 1) << "a second close tells the engine nothing new";

    const QPointer<QWidget> widget = window->window();
    window.reset();
    drain();
    EXPECT_TRUE(widget.isNull()) << "the last reference takes the window with it";
}

TEST_F(XProgressWindowTest, ClosingAfterTheEngineIsGoneIsSilent)
{
    const auto window = XProgressWindow::makeWithParent(engine, root);
    engine.reset();
    window->closeProgressWindow();
    drain();
    EXPECT_FALSE(window->window()->isVisible());
}

TEST_F(XProgressWindowTest, NextCleanTakesOverAFinishedOpenWindowAndStartsAfresh)
{
    const auto first = XProgressWindow::makeWithParent(engine, root);
    for (int i = 0; i < 5; ++i)
        first->incrementNumberOfItemsDeleted();
    first->setNumberOfItemsExamined(40);
    first->logMsg("old line");
    first->cancelButton();
    first->progressFeedback("Cleaning completed.", true);
    first->finishedCleaning();
    drain();
    ASSERT_EQ(rows(first), 1);

    TemporaryDirectory other;
    const URL otherRoot = URL::fileURLWithPath(other.path());
    const auto nextEngine = std::make_shared<FakeEngine>();
    const auto second = XProgressWindow::makeWithParent(nextEngine, otherRoot);
    EXPECT_EQ(second, first);
    EXPECT_EQ(rows(second), 0);
    EXPECT_EQ(second->numberOfItemsDeleted(), 0);
    EXPECT_EQ(second->itemsExamined(), 0);
    EXPECT_FALSE(second->userHasCanceled());
    EXPECT_TRUE(second->isBusy());
    EXPECT_EQ(engine->closedCount, 1) << "the finished clean's engine is let go";
    EXPECT_EQ(XProgressWindow::isAlreadyCleaning(otherRoot), second);
    EXPECT_EQ(XProgressWindow::isAlreadyCleaning(root), nullptr);

    drain();
    EXPECT_EQ(second->window()->windowTitle().toStdString(), "Cleaning " + otherRoot.lastPathComponent());
    EXPECT_EQ(text(second, "mainText"), QLatin1String("Cleaning completed.")) << "until the new clean refreshes";
    second->progressFeedback("Starting...", true);
    drain();
    EXPECT_EQ(text(second, "secondLineRightText"), QLatin1String("0"));
}

TEST_F(XProgressWindowTest, ABusyWindowIsFoundForItsRootAndNeverHandedToAnotherClean)
{
    const auto busy = XProgressWindow::makeWithParent(engine, root);
    EXPECT_EQ(XProgressWindow::isAlreadyCleaning(URL::fileURLWithPath(root.path() + "/")), busy)
        << "a final slash names the same root";
    EXPECT_EQ(XProgressWindow::isAlreadyCleaning(URL::fileURLWithPath(root.path() + "/sub")), nullptr);

    const auto second = XProgressWindow::makeWithParent(std::make_shared<FakeEngine>(), root);
    EXPECT_NE(second, busy);
    EXPECT_EQ(XProgressWindow::isAlreadyCleaning(root), busy) << "the first busy window in pool order";

    busy->finishedCleaning();
    drain();
    EXPECT_EQ(XProgressWindow::isAlreadyCleaning(root), second);
}

TEST_F(XProgressWindowTest, TheEngineReachesThePoolThroughTheFactory)
{
    ProgressWindowFactory factory;
    EXPECT_FALSE(factory.bringWindowCleaningRootToFront(root));
    const std::shared_ptr<XProgressProtocol> progress = factory.makeWithParent(engine, root);
    EXPECT_EQ(progress, std::static_pointer_cast<XProgressProtocol>(XProgressWindow::isAlreadyCleaning(root)));
    XProgressWindow::isAlreadyCleaning(root)->window()->hide();
    EXPECT_TRUE(factory.bringWindowCleaningRootToFront(root));
    EXPECT_TRUE(XProgressWindow::isAlreadyCleaning(root)->window()->isVisible());
}

std::vector<std::string> commandLines(const std::string &command)
{
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, count);
        pclose(pipe);
    }
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// The windows' factory, keeping the window it made.
class KeptWindows : public ProgressWindowFactory
{
public:
    std::shared_ptr<XProgressProtocol> makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                      const URL &root) override
    {
        const std::shared_ptr<XProgressProtocol> display = ProgressWindowFactory::makeWithParent(parent, root);
        made = std::dynamic_pointer_cast<XProgressWindow>(display);
        return display;
    }
    std::shared_ptr<XProgressWindow> made;
};

// An archive entry is metadata when any part of its path begins so.
bool isMetadataEntry(const std::string &name)
{
    std::istringstream parts(name);
    for (std::string part; std::getline(parts, part, '/');) {
        if (part.starts_with("._") || part.starts_with("__MACOSX") || part.starts_with(".DS_Store"))
            return true;
    }
    return false;
}

TEST_F(XProgressWindowTest, AnArchiveCleanListsLogsAndCountsEveryRemovedEntryInTheArchivesOrder)
{
    // Enough entries to pass the list's first hundred lines and several batches after them.
    const std::string source = home.file("src");
    for (int folder = 0; folder < 10; ++folder) {
        const std::string dir = source + "/Project/Folder " + std::to_string(folder) + (folder == 3 ? " \u00e9t\u00e9" : "");
        const std::string companions = source + "/__MACOSX/Project/Folder " + std::to_string(folder);
        std::filesystem::create_directories(dir);
        std::filesystem::create_directories(companions);
        writeFile(dir + "/.DS_Store", "Bud1");
        for (int file = 0; file < 25; ++file) {
            const std::string name = "file" + std::to_string(file) + ".txt";
            writeFile(dir + "/" + name, "text " + name);
            if (file % 2 == 0)
                writeFile(dir + "/._" + name, "companion");
            if (file % 3 == 0)
                writeFile(companions + "/._" + name, "companion");
        }
    }
    const std::string archive = home.file("Export.zip");
    ASSERT_EQ(std::system(("cd '" + source + "' && zip -q -r '" + archive + "' Project __MACOSX").c_str()), 0);
    std::vector<std::string> removed, kept;
    for (const std::string &entry : commandLines("unzip -Z1 '" + archive + "'"))
        (isMetadataEntry(entry) ? removed : kept).push_back(entry);
    ASSERT_GT(removed.size(), 200u);

    const URL url = URL::fileURLWithPath(archive);
    std::vector<std::string> expected{"Cleaning Archive Export.zip..."};
    for (const std::string &entry : removed)
        expected.push_back("Deleted " + entry + " in " + url.displayName());
    expected.push_back("Cleaned Archive Export.zip.");

    PreferencesSupport::standardUserDefaults().setObject(Value(true), "logDeletions");
    const std::string logBegins = "The archive test begins " + home.path();
    Logger::shared().log(logBegins);
    std::mutex mutex;
    std::vector<std::string> systemLog;
    const int sink = SystemLog::addSink([&](const std::string &message) {
        std::lock_guard lock(mutex);
        if (message.starts_with("Deleted ") || message.find(" Archive ") != std::string::npos)
            systemLog.push_back(message);
    });
    const std::shared_ptr<ProgressDisplayFactory> formerFactory = ProgressDisplayFactory::current();
    const auto windows = std::make_shared<KeptWindows>();
    ProgressDisplayFactory::setCurrent(windows);
    XEngine::make(false, true, false, false, false)->cleanWithProgressUI({url});
    EXPECT_TRUE(runEventLoopUntil([&] { return windows->made && !windows->made->isBusy(); }));
    ProgressDisplayFactory::setCurrent(formerFactory);
    const std::shared_ptr<XProgressWindow> window = windows->made;
    SystemLog::removeSink(sink);
    ASSERT_TRUE(window);
    drain();

    std::vector<std::string> listed;
    for (std::size_t line = 0; line < deletions(window)->lineCount(); ++line)
        listed.emplace_back(deletions(window)->line(line));
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(deletions(window)->rowCount(), int(expected.size())) << "all shown at the end";
    // The window's list shows them from the top, and scrolls to the last.
    auto *view = outlet<QAbstractItemView>(window, "recentLogTable");
    EXPECT_EQ(view->indexAt(QPoint(4, 2)).data().toString().toStdString(), expected.front());
    const QModelIndex last = view->model()->index(view->model()->rowCount() - 1, 0);
    view->scrollTo(last);
    EXPECT_EQ(view->indexAt(view->visualRect(last).center()), last);
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(last)));
    saveScreenshot(window->window(), "progress-window-archive-cleaned");
    EXPECT_EQ(window->numberOfItemsDeleted(), std::int64_t(removed.size()));
    EXPECT_EQ(text(window, "secondLineRightText").toStdString(), std::to_string(removed.size()));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(systemLog, expected);
    }
    // The daily log: each line dated, after the line written before the clean.
    const std::string contents = Logger::shared().logContents().value_or("");
    const std::size_t begins = contents.rfind(" " + logBegins + "\n");
    ASSERT_NE(begins, std::string::npos);
    std::vector<std::string> logged;
    std::istringstream after(contents.substr(begins + logBegins.size() + 2));
    for (std::string line; std::getline(after, line);)
        logged.push_back(line);
    ASSERT_EQ(logged.size(), expected.size());
    for (std::size_t line = 0; line < expected.size(); ++line)
        EXPECT_TRUE(logged[line].ends_with(" " + expected[line])) << logged[line];

    EXPECT_EQ(commandLines("unzip -Z1 '" + archive + "'"), kept);
}

TEST(DeletionsLogTest, LinesKeepTheirTextsAndOrderAcrossBlocksAndEmptyingDropsThemAll)
{
    DeletionsLog log;
    log.logMsg({"old", ""});
    log.empty();
    // Lines long and short, past the end of one block of text and longer than a block.
    std::vector<std::string> lines;
    for (int line = 0; line < 20000; ++line)
        lines.push_back("Deleted ._" + std::string(std::size_t(line % 97), 'x') + std::to_string(line)
                        + " in Fotos \u00e9t\u00e9");
    lines.push_back(std::string(300 * 1024, 'L'));
    lines.push_back("after the long line");
    log.logMsg(lines);
    log.showPendingLines();
    ASSERT_EQ(log.rowCount(), int(lines.size()));
    for (std::size_t line = 0; line < lines.size(); ++line)
        ASSERT_EQ(log.line(line), lines[line]) << line;
    EXPECT_EQ(log.data(log.index(1, 0)).toString(), QString::fromStdString(lines[1]));
    EXPECT_EQ(log.data(log.index(20001, 0)).toString(), QLatin1String("after the long line"));
    // A line of megabytes is no deletion line: it is cut, and the lines after it keep their places.
    log.logMsg({std::string(3 << 20, 'M'), "after the cut line"});
    ASSERT_EQ(log.lineCount(), lines.size() + 2);
    EXPECT_EQ(log.line(lines.size()), std::string((1 << 20) - 1, 'M'));
    EXPECT_EQ(log.line(lines.size() + 1), "after the cut line");
    log.empty();
    EXPECT_EQ(log.rowCount(), 0);
    EXPECT_EQ(log.lineCount(), 0u);
}
}

namespace
{
// Counts the paint events of a window and of every widget in it.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *window)
    {
        window->installEventFilter(this);
        for (QWidget *child : window->findChildren<QWidget *>())
            child->installEventFilter(this);
    }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The calls that end a run, in the engine's order.
void endTheRun(XProgressWindow &window)
{
    window.progressFeedback("Cleaning completed.", true);
    window.setProgressIndicatorMaxValue(0);
    window.ioIsSlow(false);
    window.finishedCleaning();
}
}

TEST_F(XProgressWindowTest, NothingAnimatesOrRepaintsInAWindowWhoseCleanHasEnded)
{
    // A run whose input was slow (busy spinner) with a full bar, and a run that never knew its size.
    for (const bool knowsItsSize : {true, false}) {
        SCOPED_TRACE(knowsItsSize ? "determinate bar" : "indeterminate bar");
        const auto window = XProgressWindow::makeWithParent(engine, root);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window->window()));
        if (knowsItsSize) {
            window->setIndeterminate(false);
            window->setProgressIndicatorMaxValue(100);
            window->setNumberOfItemsExamined(100);
        }
        window->ioIsSlow(true);
        window->flush();
        drain();
        PaintCounter counter(window->window());
        EXPECT_TRUE(runEventLoopUntil([&] { return counter.paints >= 5; })) << "a running clean animates";

        if (knowsItsSize) {
            // The engine's quiet-input hide, ten seconds after the last slow entry, during the run.
            window->ioIsSlow(false);
            drain();
            EXPECT_TRUE(outlet<QProgressBar>(window, "progressSpinner")->isHidden());
            counter.paints = 0;
            runEventLoopFor(std::chrono::seconds(2));
            EXPECT_EQ(counter.paints, 0) << "a full bar and a hidden spinner need no painting";
        }
        endTheRun(*window);
        drain();
        counter.paints = 0;
        runEventLoopFor(std::chrono::seconds(2));
        EXPECT_EQ(counter.paints, 0) << "the window is still painted after its clean ended";
        window->window()->close();
        drain();
    }
}

TEST_F(XProgressWindowTest, AnItemNotCleanedIsListedAndIsTheRunsLastWord)
{
    const std::string pipe = home.file("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::shared_ptr<ProgressDisplayFactory> formerFactory = ProgressDisplayFactory::current();
    const auto windows = std::make_shared<KeptWindows>();
    ProgressDisplayFactory::setCurrent(windows);
    XEngine::make(false, true, false, false, false)->cleanWithProgressUI({root, URL::fileURLWithPath(pipe)});
    EXPECT_TRUE(runEventLoopUntil([&] { return windows->made && !windows->made->isBusy(); }));
    ProgressDisplayFactory::setCurrent(formerFactory);
    const std::shared_ptr<XProgressWindow> window = windows->made;
    ASSERT_TRUE(window);
    drain();

    const std::string line = "Not cleaned: " + pipe + ": Not a folder or a zip archive";
    std::vector<std::string> listed;
    for (std::size_t index = 0; index < deletions(window)->lineCount(); ++index)
        listed.emplace_back(deletions(window)->line(index));
    EXPECT_EQ(std::count(listed.begin(), listed.end(), line), 1) << "in the window's list";
    EXPECT_EQ(text(window, "mainText").toStdString(), line) << "in place of \"Cleaning completed.\"";
    saveScreenshot(window->window(), "progress-window-not-cleaned");
}
