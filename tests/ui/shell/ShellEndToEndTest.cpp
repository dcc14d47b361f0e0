#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <set>
#include <gtest/gtest.h>

#include "ScopedMount.h"
#include "TarnwickProcess.h"
#include "TestSupport.h"
#include "XServer.h"

using namespace std::chrono_literals;

namespace
{
constexpr auto processTimeout = 60s;

// Tarnwick as a user runs it: the real executable on a real X server.
class ShellEndToEndTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_x.problem().empty())
            GTEST_SKIP() << "No X server for the end-to-end test: " << m_x.problem();
        m_home.environment().insert("DISPLAY", QString::fromStdString(m_x.display()));
        m_home.environment().insert("QT_QPA_PLATFORM", "xcb");
        m_home.environment().remove("WAYLAND_DISPLAY");
    }

    // Another start of tarnwick, which hands its paths over and ends without a word.
    void handOver(const std::string &path)
    {
        const TarnwickHome::Finished finished = m_home.run({QString::fromStdString(path)});
        EXPECT_EQ(finished.status, 0);
        EXPECT_EQ(finished.errors, "");
    }

    std::optional<XServer::Window> mappedWindowTitled(const std::string &title) const
    {
        for (const XServer::Window &window : m_x.mappedWindows()) {
            if (window.title == title)
                return window;
        }
        return std::nullopt;
    }

    // Saves the screen as <build>/screenshots/<name>.png for review, once its picture has stopped
    // changing.
    void saveScreenPicture(const std::string &name) const
    {
        QImage last = m_x.screenshot();
        QElapsedTimer unchanged;
        unchanged.start();
        runEventLoopUntil([&] {
            const QImage now = m_x.screenshot();
            if (now != last) {
                last = now;
                unchanged.restart();
            }
            return unchanged.elapsed() > 500;
        });
        const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
        QDir().mkpath(folder);
        EXPECT_TRUE(last.save(QDir(folder).absoluteFilePath(QString::fromStdString(name) + QStringLiteral(".png"))));
    }

    // Makes a folder holding Mac metadata and a file of the user's.
    std::string folderToClean(const std::string &name) const
    {
        const std::string folder = m_home.file(name);
        std::filesystem::create_directories(folder);
        writeFile(folder + "/.DS_Store", "Bud1");
        writeFile(folder + "/notes.txt", "mine");
        return folder;
    }

    XServer m_x;
    TarnwickHome m_home;
};
}

TEST_F(ShellEndToEndTest, TheRunningTarnwickCleansAFolderFromASecondStartAndOnlyQuitEndsIt)
{
    TarnwickProcess instance(m_home);
    ASSERT_TRUE(instance.start());
    const std::string folder = folderToClean("Shared Stuff");
    handOver(folder);

    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(folder + "/.DS_Store"); }, processTimeout));
    EXPECT_TRUE(fileExists(folder + "/notes.txt"));
    EXPECT_TRUE(runEventLoopUntil(
        [&] { return m_home.todaysLog().find("Deleted .DS_Store in Shared Stuff") != std::string::npos; },
        processTimeout))
        << m_home.todaysLog();

    // The progress window carries the application's display name; closing it ends nothing.
    const std::string progressTitle = "Cleaning Shared Stuff \u2014 Tarnwick";
    std::optional<XServer::Window> progress;
    ASSERT_TRUE(runEventLoopUntil([&] { return (progress = mappedWindowTitled(progressTitle)).has_value(); },
                                  processTimeout));
    EXPECT_TRUE(runEventLoopUntil([&] { return instance.logged("Completed cleaning Shared Stuff."); }, processTimeout));
    saveScreenPicture("ShellEndToEnd-progress");
    m_x.close(progress->id);
    EXPECT_TRUE(runEventLoopUntil([&] { return !mappedWindowTitled(progressTitle); }, processTimeout));

    // The launcher's "Show Log" reaches the running instance; the log window closes like any other.
    const TarnwickHome::Finished showLog = m_home.run({"--show-log"});
    EXPECT_EQ(showLog.status, 0) << showLog.errors;
    std::optional<XServer::Window> log;
    ASSERT_TRUE(runEventLoopUntil([&] { return (log = mappedWindowTitled("Log \u2014 Tarnwick")).has_value(); },
                                  processTimeout));
    saveScreenPicture("ShellEndToEnd-log");
    m_x.close(log->id);
    EXPECT_TRUE(runEventLoopUntil([&] { return !mappedWindowTitled("Log \u2014 Tarnwick"); }, processTimeout));

    const std::string later = folderToClean("Later");
    handOver(later);
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(later + "/.DS_Store"); }, processTimeout))
        << "the instance ended when its window closed";

    // SIGTERM takes the quit path: save, the last log line, the socket gone.
    EXPECT_EQ(instance.endWith(SIGTERM), 0);
    EXPECT_TRUE(instance.logged("Tarnwick has quit.")) << instance.errors();
    EXPECT_FALSE(std::filesystem::exists(m_home.socketPath()));
}

TEST_F(ShellEndToEndTest, AFirstLaunchOpensTheMainWindowAndTheSameBuildAgainDoesNot)
{
    {
        TarnwickProcess first(m_home);
        ASSERT_TRUE(first.start());
        std::optional<XServer::Window> window;
        ASSERT_TRUE(runEventLoopUntil([&] { return (window = mappedWindowTitled("Tarnwick")).has_value(); },
                                      processTimeout));
        saveScreenPicture("ShellEndToEnd-first-launch");
        m_x.close(window->id);
        EXPECT_TRUE(runEventLoopUntil([&] { return !mappedWindowTitled("Tarnwick"); }, processTimeout));
        const std::string stillServed = folderToClean("Still served");
        handOver(stillServed);
        EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(stillServed + "/.DS_Store"); }, processTimeout))
            << "closing the main window ended Tarnwick";
        EXPECT_EQ(first.endWith(SIGTERM), 0);
    }
    TarnwickProcess again(m_home);
    ASSERT_TRUE(again.start());
    // By the time a handed folder's progress window shows, a window of the launch would have too.
    const std::string folder = folderToClean("After");
    handOver(folder);
    ASSERT_TRUE(runEventLoopUntil([&] { return mappedWindowTitled("Cleaning After \u2014 Tarnwick").has_value(); },
                                  processTimeout));
    EXPECT_FALSE(mappedWindowTitled("Tarnwick"));

    // Later the launcher's "Open Tarnwick..." brings it.
    const TarnwickHome::Finished open = m_home.run({"--show-window"});
    EXPECT_EQ(open.status, 0) << open.errors;
    EXPECT_TRUE(runEventLoopUntil([&] { return mappedWindowTitled("Tarnwick").has_value(); }, processTimeout));
    EXPECT_EQ(again.endWith(SIGTERM), 0);
}

TEST_F(ShellEndToEndTest, ClosingAnAlertEndsNothing)
{
    if (!isRoot())
        GTEST_SKIP() << "a read-only disk needs root to mount";
    TarnwickProcess instance(m_home);
    ASSERT_TRUE(instance.start());
    const std::string disk = m_home.file("Locked Disk");
    std::filesystem::create_directories(disk);
    const ScopedMount readOnly("tmpfs", disk, true);
    ASSERT_TRUE(readOnly.isMounted()) << readOnly.failure();
    // The windows there are once start-up is over.
    std::set<std::uint32_t> before;
    QElapsedTimer unchanged;
    unchanged.start();
    runEventLoopUntil([&] {
        std::set<std::uint32_t> now;
        for (const XServer::Window &window : m_x.mappedWindows())
            now.insert(window.id);
        if (now != before) {
            before = now;
            unchanged.restart();
        }
        return unchanged.elapsed() > 1000;
    });

    // A read-only disk handed over: the running Tarnwick says it cannot clean it.
    handOver(disk);
    std::optional<XServer::Window> alert;
    ASSERT_TRUE(runEventLoopUntil([&] {
        for (const XServer::Window &window : m_x.mappedWindows()) {
            if (!before.contains(window.id))
                alert = window;
        }
        return alert.has_value();
    }, processTimeout));
    saveScreenPicture("ShellEndToEnd-read-only-alert");
    m_x.close(alert->id);
    EXPECT_TRUE(runEventLoopUntil([&] {
        const std::vector<XServer::Window> windows = m_x.mappedWindows();
        return std::none_of(windows.begin(), windows.end(),
                            [&](const XServer::Window &window) { return window.id == alert->id; });
    }, processTimeout));

    const std::string later = folderToClean("After The Alert");
    handOver(later);
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(later + "/.DS_Store"); }, processTimeout))
        << "the instance ended when its alert closed";
    EXPECT_EQ(instance.endWith(SIGTERM), 0);
}
