#pragma once

#include <mutex>
#include <string>

#include "TallowExport.h"

// A system folder that facts are read from (/dev, /proc, /sys ...), which tests can point at a
// folder they build. Any thread may read it.
class TALLOW_EXPORT ReplaceableFolder
{
public:
    explicit ReplaceableFolder(std::string realPath);

    std::string path() const;
    // An empty string restores the real folder.
    void replaceForTesting(const std::string &path);

private:
    const std::string m_realPath;
    mutable std::mutex m_mutex;
    std::string m_path;
};
