#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// The real application as a user runs it, started by a benchmark: its standard error goes to a
// file, which tells when start-up is over. It runs in whatever home the environment names.
class BenchApplication
{
public:
    BenchApplication(std::string executable, std::filesystem::path errors);
    ~BenchApplication();
    BenchApplication(const BenchApplication &) = delete;
    BenchApplication &operator=(const BenchApplication &) = delete;

    // Starts it with the paths; false when it could not be started.
    bool start(const std::vector<std::string> &paths);
    // Until its start-up is done ("finished starting." in its log); false after two minutes.
    bool waitUntilStarted();
    // Until a second passes without the process using the processor: start-up work (the
    // watcher choosing and watching its folders) is over.
    void waitUntilIdle();
    // A field of its /proc status in KiB ("VmRSS:", "VmHWM:"); -1 when missing.
    long kib(const char *field) const;
    void resetPeak() const;
    // Ends it as Quit does (SIGTERM) and waits for it.
    void quit();

private:
    std::string m_executable;
    std::filesystem::path m_errors;
    pid_t m_pid = -1;
};

namespace BenchSupport
{
std::string readText(const std::filesystem::path &file);
// Checks the condition every step until it holds (true) or the timeout has passed (false).
bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout,
               std::chrono::microseconds step);
// Clears the process's peak resident size (VmHWM) down to what it holds now.
void resetPeakResident(const std::string &process);
}
