#pragma once

#include <QStringList>

#include "TestSupport.h"

// A small desktop icon theme with a "folder" and a "drive-harddisk" icon, in force for the life
// of the object (the test machine may have no icon theme at all).
class ScopedIconTheme
{
public:
    ScopedIconTheme();
    ~ScopedIconTheme();
    ScopedIconTheme(const ScopedIconTheme &) = delete;
    ScopedIconTheme &operator=(const ScopedIconTheme &) = delete;

private:
    TemporaryDirectory m_folder;
    QString m_formerName;
    QStringList m_formerSearchPaths;
};
