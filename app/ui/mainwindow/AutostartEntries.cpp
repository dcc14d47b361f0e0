#include "AutostartEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>

#include "XdgPaths.h"

namespace
{
constexpr const char *ownEntryName = "tarnwick.desktop";
constexpr const char *programName = "tarnwick";

// The first word of an Exec value, with the desktop entry's quoting undone.
QString firstExecWord(const QString &exec)
{
    QString word;
    bool quoted = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size())
                word += exec.at(++i);
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                word += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c.isSpace()) {
            if (!word.isEmpty())
                break;
        } else {
            word += c;
        }
    }
    return word;
}

// A path as a desktop entry's Exec word: quoted when it holds anything but plain characters.
QString execWord(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (std::none_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); }))
        return program;
    QString quoted = program;
    for (const char *special : {"\\", "\"", "`", "$"})
        quoted.replace(QLatin1String(special), QLatin1String("\\") + QLatin1String(special));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
}

std::string AutostartEntries::folder()
{
    return XdgPaths::configHome() + "/autostart";
}

std::string AutostartEntries::ownEntryPath()
{
    return folder() + "/" + ownEntryName;
}

std::string AutostartEntries::execProgramName(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream in(&file);
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || !line.startsWith(QLatin1String("Exec")))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != QLatin1String("Exec"))
            continue;
        return QFileInfo(firstExecWord(line.mid(equals + 1))).fileName().toStdString();
    }
    return {};
}

bool AutostartEntries::isTarnwickEntry(const std::string &path)
{
    if (QFileInfo(QString::fromStdString(path)).absoluteFilePath() ==
        QFileInfo(QString::fromStdString(ownEntryPath())).absoluteFilePath())
        return true;
    return QString::fromStdString(execProgramName(path)).compare(QLatin1String(programName), Qt::CaseInsensitive) == 0;
}

std::vector<std::string> AutostartEntries::tarnwickEntries()
{
    std::vector<std::string> entries;
    const QDir autostart(QString::fromStdString(folder()));
    const QFileInfoList files =
        autostart.entryInfoList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo &file : files) {
        const std::string path = file.absoluteFilePath().toStdString();
        if (isTarnwickEntry(path))
            entries.push_back(path);
    }
    return entries;
}

AutostartEntries::AddResult AutostartEntries::add(const std::string &program)
{
    if (!QDir().mkpath(QString::fromStdString(folder())))
        return AddResult::folderUnavailable;
    QSaveFile file(QString::fromStdString(ownEntryPath()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return AddResult::folderUnavailable;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Tarnwick\n"
                                         "Comment=Keeps disks free of Mac metadata\n"
                                         "Exec=%1\n"
                                         "Icon=tarnwick\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execWord(QString::fromStdString(program)));
    const QByteArray bytes = entry.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return AddResult::writeFailed;
    return AddResult::added;
}

bool AutostartEntries::removeAll()
{
    bool allRemoved = true;
    for (const std::string &entry : tarnwickEntries())
        allRemoved = QFile::remove(QString::fromStdString(entry)) && allRemoved;
    return allRemoved;
}
