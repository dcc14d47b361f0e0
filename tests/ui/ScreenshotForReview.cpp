#include "ScreenshotForReview.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

std::string saveScreenshotForReview(QWidget *widget, const std::string &name)
{
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
    if (!widget || !QDir().mkpath(folder))
        return {};
    const QString file = QDir(folder).absoluteFilePath(QString::fromStdString(name) + QStringLiteral(".png"));
    return widget->grab().save(file) ? file.toStdString() : std::string();
}
