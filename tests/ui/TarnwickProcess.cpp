#include "TarnwickProcess.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
constexpr auto processTimeout = 60s;
}

TarnwickHome::TarnwickHome()
{
    ::chmod(m_runtime.path().c_str(), 0700);
    m_environment.insert("QT_QPA_PLATFORM", "offscreen");
    m_environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(m_runtime.path()));
    m_environment.insert("XDG_CONFIG_HOME", QString::fromStdString(m_home.file("config")));
    m_environment.insert("XDG_CACHE_HOME", QString::fromStdString(m_home.file("cache")));
    m_environment.insert("XDG_DATA_HOME", QString::fromStdString(m_home.file("data")));
}

std::string TarnwickHome::socketPath() const
{
    return m_runtime.file("tarnwick-" + std::to_string(getuid()));
}

std::string TarnwickHome::preferencesFile() const
{
    return m_home.file("config/tarnwick/org.tarnwick.Tarnwick.plist");
}

std::string TarnwickHome::todaysLog() const
{
    const std::string path = m_home.file("cache/org.tarnwick.Tarnwick/Today's Log.txt");
    return fileExists(path) ? readFile(path) : std::string();
}

TarnwickHome::Finished TarnwickHome::run(const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.setWorkingDirectory(QString::fromStdString(m_home.path()));
    process.start(TARNWICK_EXECUTABLE, arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    Finished finished;
    finished.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    finished.output = process.readAllStandardOutput().toStdString();
    finished.errors = process.readAllStandardError().toStdString();
    return finished;
}

TarnwickProcess::TarnwickProcess(TarnwickHome &home) : m_home(home)
{
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
                     [this] { m_errors += m_process.readAllStandardError().toStdString(); });
}

TarnwickProcess::~TarnwickProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(30000);
    }
}

bool TarnwickProcess::start(const QStringList &arguments)
{
    m_errors.clear();
    m_process.setProcessEnvironment(m_home.environment());
    m_process.setWorkingDirectory(QString::fromStdString(m_home.file("")));
    m_process.start(TARNWICK_EXECUTABLE, arguments);
    EXPECT_TRUE(m_process.waitForStarted(30000));
    const bool started = runEventLoopUntil([this] { return logged("finished starting.") || hasEnded(); }, processTimeout)
                         && !hasEnded();
    EXPECT_TRUE(started) << m_errors;
    return started;
}

int TarnwickProcess::endWith(int signalNumber)
{
    ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
    return waitForEnd();
}

int TarnwickProcess::waitForEnd()
{
    EXPECT_TRUE(runEventLoopUntil([this] { return hasEnded(); }, processTimeout)) << m_errors;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}
