#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "XServer.h"

using namespace std::chrono_literals;

namespace
{
constexpr auto processTimeout = 60s;

// Tarnwick as a user runs it: the real executable on a real X server, with a home of its own.
class ShellEndToEndTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_x.problem().empty())
            GTEST_SKIP() << "No X server for the end-to-end test: " << m_x.problem();
        ::chmod(m_runtime.path().c_str(), 0700);
        m_environment.insert("DISPLAY", QString::fromStdString(m_x.display()));
        m_environment.insert("QT_QPA_PLATFORM", "xcb");
        m_environment.remove("WAYLAND_DISPLAY");
        m_environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(m_runtime.path()));
        m_environment.insert("XDG_CONFIG_HOME", QString::fromStdString(m_home.file("config")));
        m_environment.insert("XDG_CACHE_HOME", QString::fromStdString(m_home.file("cache")));
        m_environment.insert("XDG_DATA_HOME", QString::fromStdString(m_home.file("data")));
        m_instance.setProcessEnvironment(m_environment);
        QObject::connect(&m_instance, &QProcess::readyReadStandardError,
                         [this] { m_errors += m_instance.readAllStandardError().toStdString(); });
    }

    void TearDown() override
    {
        if (m_instance.state() != QProcess::NotRunning) {
            m_instance.kill();
            m_instance.waitForFinished(30000);
        }
    }

    void startInstance()
    {
        m_errors.clear();
        m_instance.start(TARNWICK_EXECUTABLE, {});
        ASSERT_TRUE(m_instance.waitForStarted(30000));
        ASSERT_TRUE(runEventLoopUntil([this] { return logged("finished starting."); }, processTimeout)) << m_errors;
    }

    bool logged(const std::string &text) const { return m_errors.find(text) != std::string::npos; }

    // Another start of tarnwick, run to its end; its exit status.
    int startAgain(const QStringList &arguments)
    {
        QProcess start;
        start.setProcessEnvironment(m_environment);
        start.start(TARNWICK_EXECUTABLE, arguments);
        EXPECT_TRUE(start.waitForFinished(60000));
        EXPECT_EQ(start.readAllStandardError(), QByteArray());
        return start.exitStatus() == QProcess::NormalExit ? start.exitCode() : -1;
    }

    std::optional<XServer::Window> mappedWindowTitled(const std::string &title) const
    {
        for (const XServer::Window &window : m_x.mappedWindows()) {
            if (window.title == title)
                return window;
        }
        return std::nullopt;
    }

    std::string socketPath() const { return m_runtime.file("tarnwick-" + std::to_string(getuid())); }
    std::string todaysLog() const
    {
        const std::string path = m_home.file("cache/org.tarnwick.Tarnwick/Today's Log.txt");
        return fileExists(path) ? readFile(path) : std::string();
    }

    // Saves the screen into the build tree for review, once its picture has stopped changing.
    void saveScreenshot(const std::string &name) const
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
        QDir().mkpath(TARNWICK_SCREENSHOT_DIR);
        EXPECT_TRUE(last.save(QString::fromStdString(std::string(TARNWICK_SCREENSHOT_DIR) + "/" + name)));
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
    TemporaryDirectory m_home;
    TemporaryDirectory m_runtime;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QProcess m_instance;
    std::string m_errors;
};
}

TEST_F(ShellEndToEndTest, TheRunningTarnwickCleansAFolderFromASecondStartAndOnlyQuitEndsIt)
{
    startInstance();
    const std::string folder = folderToClean("Shared Stuff");
    EXPECT_EQ(startAgain({QString::fromStdString(folder)}), 0);

    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(folder + "/.DS_Store"); }, processTimeout));
    EXPECT_TRUE(fileExists(folder + "/notes.txt"));
    EXPECT_TRUE(runEventLoopUntil(
        [&] { return todaysLog().find("Deleted .DS_Store in Shared Stuff") != std::string::npos; }, processTimeout))
        << todaysLog();

    // The progress window carries the application's display name; closing it ends nothing.
    const std::string progressTitle = "Cleaning Shared Stuff \u2014 Tarnwick";
    std::optional<XServer::Window> progress;
    ASSERT_TRUE(runEventLoopUntil([&] { return (progress = mappedWindowTitled(progressTitle)).has_value(); },
                                  processTimeout));
    EXPECT_TRUE(runEventLoopUntil([this] { return logged("Completed cleaning Shared Stuff."); }, processTimeout));
    saveScreenshot("ShellEndToEnd-progress.png");
    m_x.close(progress->id);
    EXPECT_TRUE(runEventLoopUntil([&] { return !mappedWindowTitled(progressTitle); }, processTimeout));

    const std::string later = folderToClean("Later");
    EXPECT_EQ(startAgain({QString::fromStdString(later)}), 0);
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(later + "/.DS_Store"); }, processTimeout))
        << "the instance ended when its window closed";

    // SIGTERM takes the quit path: save, the last log line, the socket gone.
    ::kill(static_cast<pid_t>(m_instance.processId()), SIGTERM);
    ASSERT_TRUE(runEventLoopUntil([this] { return m_instance.state() == QProcess::NotRunning; }, processTimeout));
    EXPECT_EQ(m_instance.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_instance.exitCode(), 0);
    EXPECT_TRUE(logged("Tarnwick has quit.")) << m_errors;
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
}
