#pragma once

#include <mutex>
#include <string>
#include <vector>

// Collects the system-log lines written while it lives.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<std::string> lines() const;
    std::size_t countContaining(const std::string &text) const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    int m_token;
};
