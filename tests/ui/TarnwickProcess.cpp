#include "TarnwickProcess.h"

#include <QFile>

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
constexpr auto processTimeout = 60s;

std::vector<std::string> bytesOf(const QStringList &arguments)
{
    std::vector<std::string> bytes;
    for (const QString &argument : arguments)
        bytes.push_back(QFile::encodeName(argument).toStdString());
    return bytes;
}

// Starts the executable in the working folder with arguments of any bytes: QProcess hands its
// arguments over as text, which cannot hold a name that is not UTF-8, so the child runs the
// executable itself once QProcess has set up its channels.
void startWithBytes(QProcess &process, const std::vector<std::string> &arguments,
                    const QProcessEnvironment &environment, const std::string &workingFolder)
{
    std::vector<std::string> argumentStrings{TARNWICK_EXECUTABLE};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentStrings;
    for (const QString &variable : environment.toStringList())
        environmentStrings.push_back(QFile::encodeName(variable).toStdString());
    const auto pointers = [](std::vector<std::string> &strings) {
        std::vector<char *> list;
        for (std::string &string : strings)
            list.push_back(string.data());
        list.push_back(nullptr);
        return list;
    };
    std::vector<char *> argv = pointers(argumentStrings);
    std::vector<char *> envp = pointers(environmentStrings);
    process.setChildProcessModifier([&argv, &envp, &workingFolder] {
        if (::chdir(workingFolder.c_str()) != 0)
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    });
    process.start(TARNWICK_EXECUTABLE, {});
    process.setChildProcessModifier({});
}
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
    return runWithArgumentBytes(bytesOf(arguments));
}

TarnwickHome::Finished TarnwickHome::runWithArgumentBytes(const std::vector<std::string> &arguments,
                                                          const std::string &workingFolder)
{
    QProcess process;
    startWithBytes(process, arguments, m_environment, workingFolder.empty() ? m_home.path() : workingFolder);
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
    return startWithArgumentBytes(bytesOf(arguments));
}

bool TarnwickProcess::startWithArgumentBytes(const std::vector<std::string> &arguments)
{
    m_errors.clear();
    startWithBytes(m_process, arguments, m_home.environment(), m_home.file(""));
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
