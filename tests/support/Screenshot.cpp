#include "Screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

std::string saveScreenshot(QWidget *widget, const std::string &name)
{
    const QString folder = QStringLiteral(TARNWICK_SCREENSHOT_DIR);
    EXPECT_TRUE(QDir().mkpath(folder)) << folder.toStdString();
    const QString path = folder + QLatin1Char('/') + QString::fromStdString(name) + QStringLiteral(".png");
    const QPixmap picture = widget->grab();
    EXPECT_FALSE(picture.isNull()) << name;
    EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
    return path.toStdString();
}
