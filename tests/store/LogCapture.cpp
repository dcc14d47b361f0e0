#include "LogCapture.h"

#include <algorithm>

#include "SystemLog.h"

LogCapture::LogCapture()
    : m_token(SystemLog::addSink([this](const std::string &message) {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(message);
    }))
{
}

LogCapture::~LogCapture()
{
    SystemLog::removeSink(m_token);
}

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

std::size_t LogCapture::countContaining(const std::string &text) const
{
    const std::vector<std::string> all = lines();
    return std::count_if(all.begin(), all.end(),
                         [&text](const std::string &line) { return line.find(text) != std::string::npos; });
}
