#pragma once

#include <functional>
#include <string>

// A benchmark's own home: a temporary folder for its preferences and caches, removed at the end,
// and the offscreen platform unless another was asked for. Make it before the application object.
class BenchHome
{
public:
    BenchHome();
    ~BenchHome();
    BenchHome(const BenchHome &) = delete;
    BenchHome &operator=(const BenchHome &) = delete;

    // Empty when no folder could be made.
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

// Turns the main event loop until the condition holds.
void runEventLoopUntil(const std::function<bool()> &done);
