#include "DiagnosticsReport.h"

#include <QDir>
#include <QUuid>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "MainUIController.h"
#include "TWVolumeInfo.h"

namespace
{
constexpr std::string_view indentUnit = "    ";

// Characters an old-style property-list string may hold without quotes.
bool needsQuotes(const std::string &text)
{
    if (text.empty())
        return true;
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
                           || byte == '_' || byte == '$' || byte == '.' || byte == '/' || byte == ':' || byte == '-'
                           || byte >= 0x80;
        if (!plain)
            return true;
    }
    return false;
}

std::string quoted(const std::string &text)
{
    if (!needsQuotes(text))
        return text;
    std::string result = "\"";
    for (const char character : text) {
        switch (character) {
        case '"':
            result += "\\\"";
            break;
        case '\\':
            result += "\\\\";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\t':
            result += "\\t";
            break;
        default:
            result += character;
        }
    }
    return result + "\"";
}

std::string dateText(const Date &date)
{
    const auto seconds = static_cast<std::time_t>(std::floor(date.secondsSince1970));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return text;
}

std::string dataText(const Data &data)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text = "<";
    for (std::size_t index = 0; index < data.size(); ++index) {
        if (index > 0 && index % 4 == 0)
            text += ' ';
        text += digits[data[index] >> 4];
        text += digits[data[index] & 0xF];
    }
    return text + ">";
}

std::string describe(const Value &value, int level)
{
    std::string indent;
    for (int step = 0; step < level; ++step)
        indent += indentUnit;
    switch (value.type()) {
    case Value::Type::Null:
        return "<null>";
    case Value::Type::Boolean:
        return *value.asBoolean() ? "1" : "0";
    case Value::Type::Integer:
        return std::to_string(*value.asInteger());
    case Value::Type::Real: {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", *value.asReal());
        return text;
    }
    case Value::Type::String:
        return quoted(*value.asString());
    case Value::Type::Data:
        return dataText(*value.asData());
    case Value::Type::Date:
        return quoted(dateText(*value.asDate()));
    case Value::Type::Array: {
        // A nested container starts on the line of its key, after one more indent.
        std::string text = "(\n";
        const Array &array = *value.asArray();
        for (std::size_t index = 0; index < array.size(); ++index) {
            text += indent + std::string(indentUnit) + describe(array[index], level + 1);
            text += index + 1 < array.size() ? ",\n" : "\n";
        }
        return text + indent + ")";
    }
    case Value::Type::Dictionary: {
        std::string text = "{\n";
        for (const auto &[key, member] : *value.asDictionary()) {
            const bool nested = member.type() == Value::Type::Array || member.type() == Value::Type::Dictionary;
            text += indent + std::string(indentUnit) + quoted(key) + " = "
                    + (nested ? indent + std::string(indentUnit) : std::string()) + describe(member, level + 1) + ";\n";
        }
        return text + indent + "}";
    }
    }
    return {};
}

std::string yesNo(bool value, const char *label)
{
    return MainUIController::diagInfo(value, QString::fromLatin1(label)).toStdString() + "\n";
}
}

std::string DiagnosticsReport::text(const std::vector<URL> &volumes, const std::optional<Dictionary> &generalPreferences)
{
    std::string report;
    for (const URL &volume : volumes) {
        // Facts that cannot be read leave every flag NO and every name empty.
        TWVolumeInfo info;
        const int lookup = CFUGetVolumeInfo(volume.path(), &info);
        const VolumeFacts &facts = info.statInfo();
        report += volume.path() + "\n\tType:" + facts.fileSystemType + "\n";
        report += "\t" + facts.mountPoint + "\n";
        report += "\t" + facts.source + "\n";
        report += yesNo(info.isServer(), "Server");
        report += yesNo(info.isMacDisk(), "isMacDisk");
        report += yesNo(TWVolumeSupportsExtendedAttrsProperly(facts), "Attrs");
        report += yesNo(info.hasDecentRFSupport(), "Resources");
        report += yesNo(info.isRW(), "IsRW");
        report += yesNo(info.tarnwShouldIgnore(), "AlwaysIgnore");
        report += "\tKey: " + TWKeyForDisk(volume.path()) + "\n\t" + std::to_string(lookup) + "\n\n";
    }
    report += "\nPreferences: "
              + description(generalPreferences ? std::optional<Value>(Value(*generalPreferences)) : std::nullopt);
    return report;
}

std::string DiagnosticsReport::newPath()
{
    const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return QDir(QDir::tempPath()).filePath(QStringLiteral("Tarnwick Info %1.txt").arg(identifier)).toStdString();
}

bool DiagnosticsReport::write(const std::string &path, const std::string &text)
{
    // The report holds the preferences, home paths and the mount table: only its owner may read
    // it. It is a new file, never one found there (a link another user left in a shared
    // temporary folder included).
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0)
        return false;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(file, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        written += static_cast<std::size_t>(count);
    }
    const bool complete = written == text.size() && fsync(file) == 0;
    if (close(file) != 0 || !complete) {
        // Whole or not at all: the file was made here, so it is this report's to remove.
        unlink(path.c_str());
        return false;
    }
    return true;
}

std::string DiagnosticsReport::description(const std::optional<Value> &value)
{
    return value ? describe(*value, 0) : std::string("(null)");
}
