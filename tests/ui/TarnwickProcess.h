#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <string>
#include <vector>

#include "TestSupport.h"

// The real tarnwick executable as a user runs it, with a home of its own: its preferences, caches
// and instance socket live in temporary folders. Set the display with environment() before start.
class TarnwickHome
{
public:
    TarnwickHome();

    QProcessEnvironment &environment() { return m_environment; }
    const std::string &path() const { return m_home.path(); }
    std::string file(const std::string &name) const { return m_home.file(name); }
    std::string socketPath() const;
    std::string preferencesFile() const;
    std::string todaysLog() const;

    struct Finished
    {
        int status = -1;
        std::string output;
        std::string errors;
    };
    // Another start, run to its end.
    Finished run(const QStringList &arguments);
    // The same with arguments of any bytes (QProcess passes only text), from the working folder
    // given (the home when empty).
    Finished runWithArgumentBytes(const std::vector<std::string> &arguments, const std::string &workingFolder = {});

private:
    TemporaryDirectory m_home;
    TemporaryDirectory m_runtime;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
};

// The running instance; killed at the end of the test if still running.
class TarnwickProcess
{
public:
    explicit TarnwickProcess(TarnwickHome &home);
    ~TarnwickProcess();
    TarnwickProcess(const TarnwickProcess &) = delete;
    TarnwickProcess &operator=(const TarnwickProcess &) = delete;

    // Starts it and waits until its start-up is done; false (a test failure) when it is not.
    bool start(const QStringList &arguments = {});
    bool startWithArgumentBytes(const std::vector<std::string> &arguments);
    bool logged(const std::string &text) const { return m_errors.find(text) != std::string::npos; }
    const std::string &errors() const { return m_errors; }
    bool hasEnded() const { return m_process.state() == QProcess::NotRunning; }
    // Sends the signal and waits for the end; the exit status, -1 for a crash.
    int endWith(int signalNumber);
    // Waits for an end brought about otherwise.
    int waitForEnd();

private:
    TarnwickHome &m_home;
    QProcess m_process;
    std::string m_errors;
};
