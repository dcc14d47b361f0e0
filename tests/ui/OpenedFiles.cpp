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
