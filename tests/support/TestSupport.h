#pragma once

#include <chrono>
#include <functional>
#include <string>

// Runs the main event loop until the predicate holds or the timeout passes;
// returns the predicate's last answer. Generous timeouts keep loaded machines green.
bool runEventLoopUntil(const std::function<bool()> &predicate,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the main event loop for the given time (for checking that nothing happens).
void runEventLoopFor(std::chrono::milliseconds duration);

// A fresh directory under the system's temporary folder, removed with its contents.
class TemporaryDirectory
{
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory &) = delete;
    TemporaryDirectory &operator=(const TemporaryDirectory &) = delete;

    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Writes or reads a whole file; fails the current test on error.
void writeFile(const std::string &path, const std::string &contents);
std::string readFile(const std::string &path);
bool fileExists(const std::string &path);

// True when running as root (real mounts are possible).
bool isRoot();

// The folder holding the tests' sources (fixtures live beside them).
std::string testSourceDir();
