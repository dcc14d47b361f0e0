#include "ReplaceableFolder.h"

#include <utility>

ReplaceableFolder::ReplaceableFolder(std::string realPath)
    : m_realPath(std::move(realPath))
    , m_path(m_realPath)
{
}

std::string ReplaceableFolder::path() const
{
    std::lock_guard lock(m_mutex);
    return m_path;
}

void ReplaceableFolder::replaceForTesting(const std::string &path)
{
    std::lock_guard lock(m_mutex);
    m_path = path.empty() ? m_realPath : path;
}
