#include "BenchApplication.h"

#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

#include "BenchSupport.h"

namespace
{
using namespace std::chrono_literals;

// User and system time of the process so far, in clock ticks.
long cpuTicks(pid_t pid)
{
    const std::string text = BenchSupport::readText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = text.rfind(')');
    if (end == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    long user = 0, system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            user = std::stol(field);
        if (index == 15) {
            system = std::stol(field);
            break;
        }
    }
    return user + system;
}
}

std::string BenchSupport::readText(const std::filesystem::path &file)
{
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool BenchSupport::waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout,
                             std::chrono::microseconds step)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

void BenchSupport::resetPeakResident(const std::string &process)
{
    std::ofstream("/proc/" + process + "/clear_refs") << "5";
}

BenchApplication::BenchApplication(std::string executable, std::filesystem::path errors)
    : m_executable(std::move(executable)), m_errors(std::move(errors))
{
}

BenchApplication::~BenchApplication()
{
    quit();
}

bool BenchApplication::start(const std::vector<std::string> &paths)
{
    std::vector<std::string> arguments{m_executable};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    std::filesystem::remove(m_errors);
    m_pid = BenchSupport::spawnProgram(arguments, m_errors);
    return m_pid > 0;
}

bool BenchApplication::waitUntilStarted()
{
    return BenchSupport::waitUntil(
        [this] { return BenchSupport::readText(m_errors).find("finished starting.") != std::string::npos; }, 120s,
        10ms);
}

void BenchApplication::waitUntilIdle()
{
    long before = cpuTicks(m_pid);
    for (int quiet = 0; quiet < 5;) {
        std::this_thread::sleep_for(200ms);
        const long now = cpuTicks(m_pid);
        quiet = now == before ? quiet + 1 : 0;
        before = now;
    }
}

long BenchApplication::kib(const char *field) const
{
    return BenchSupport::statusKiB(field, std::to_string(m_pid));
}

void BenchApplication::resetPeak() const
{
    BenchSupport::resetPeakResident(std::to_string(m_pid));
}

void BenchApplication::quit()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}
