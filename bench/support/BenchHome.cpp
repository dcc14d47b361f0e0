#include "BenchHome.h"

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>

BenchHome::BenchHome()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string path = (std::filesystem::temp_directory_path() / "tarnwick-bench-XXXXXX").string();
    if (!mkdtemp(path.data()))
        return;
    m_path = path;
    setenv("XDG_CONFIG_HOME", (m_path + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (m_path + "/cache").c_str(), 1);
}

BenchHome::~BenchHome()
{
    if (m_path.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void runEventLoopUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
