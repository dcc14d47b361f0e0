#include "OpenedFiles.h"

#include <QDesktopServices>

OpenedFiles::OpenedFiles()
{
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
}

OpenedFiles::~OpenedFiles()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void OpenedFiles::open(const QUrl &url)
{
    opened.push_back(url);
}

void ScriptedDesktopOpener::openFile(const std::string &path, Opened opened)
{
    handed.push_back(path);
    if (opened)
        opened(opens);
}

ScopedDesktopOpener::ScopedDesktopOpener()
{
    DesktopOpener::setCurrent(m_opener);
}

ScopedDesktopOpener::~ScopedDesktopOpener()
{
    DesktopOpener::setCurrent(nullptr);
}
