#include "WindowScreenshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

std::string saveScreenshot(QWidget *window, const std::string &name)
{
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    const QString file = QDir(folder).absoluteFilePath(QString::fromStdString(name) + QStringLiteral(".png"));
    EXPECT_TRUE(window->grab().save(file)) << file.toStdString();
    return file.toStdString();
}
