#include "ScopedIconTheme.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPainter>

#include <filesystem>

namespace
{
constexpr const char *themeName = "tarnwick-test-icons";

void drawIcon(const QString &file, const QColor &colour)
{
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(colour.darker(150));
    painter.drawRoundedRect(QRectF(3, 8, 26, 17), 4, 4);
    painter.end();
    image.save(file);
}
}

ScopedIconTheme::ScopedIconTheme()
    : m_formerName(QIcon::themeName())
    , m_formerSearchPaths(QIcon::themeSearchPaths())
{
    const std::string theme = m_folder.file(themeName);
    std::filesystem::create_directories(theme + "/32x32/places");
    std::filesystem::create_directories(theme + "/32x32/devices");
    writeFile(theme + "/index.theme", "[Icon Theme]\nName=Tarnwick test icons\nDirectories=32x32/places,32x32/devices\n\n"
                                      "[32x32/places]\nSize=32\nType=Fixed\n\n[32x32/devices]\nSize=32\nType=Fixed\n");
    drawIcon(QString::fromStdString(theme + "/32x32/places/folder.png"), QColor(0x5c, 0x9d, 0xe0));
    drawIcon(QString::fromStdString(theme + "/32x32/devices/drive-harddisk.png"), QColor(0x9a, 0x9a, 0xa0));
    QIcon::setThemeSearchPaths(QStringList{QString::fromStdString(m_folder.path())} + m_formerSearchPaths);
    QIcon::setThemeName(QString::fromLatin1(themeName));
}

ScopedIconTheme::~ScopedIconTheme()
{
    QIcon::setThemeName(m_formerName);
    QIcon::setThemeSearchPaths(m_formerSearchPaths);
}
