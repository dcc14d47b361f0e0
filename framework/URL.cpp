#include "URL.h"

#include <QFile>
#include <QIconEngine>
#include <QMimeDatabase>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSystemTypes.h"
#include "MainThread.h"
#include "MountTable.h"
#include "PackageExtensions.h"
#include "PhysicalPath.h"
#include "VolumeFacts.h"
#include "VolumesFolders.h"
#include "XdgPaths.h"

namespace
{
// The physical path, of any length; empty when it cannot be found (removed, or a folder
// above unreadable).
std::string currentFolder()
{
    std::string buffer(PATH_MAX, '\0');
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

std::string normalizedPath(const std::string &path)
{
    std::string absolute = path;
    if (absolute.empty() || absolute.front() != '/') {
        // Without the current folder the path stays relative: still the right item for the
        // system calls, never a look-alike under "/".
        const std::string folder = currentFolder();
        if (!folder.empty())
            absolute = absolute.empty() ? folder : folder + "/" + absolute;
    }
    std::string result;
    result.reserve(absolute.size());
    for (const char c : absolute) {
        if (c == '/' && !result.empty() && result.back() == '/')
            continue;
        result.push_back(c);
    }
    if (result.size() > 1 && result.back() == '/')
        result.pop_back();
    return result;
}

// The volume of the item itself: for a symbolic link, the folder that holds the link.
class ItemVolume
{
public:
    ItemVolume(const URL &url, bool isLink) : m_url(url), m_isLink(isLink) {}

    const std::optional<MountEntry> &mount()
    {
        if (!m_mountLooked) {
            m_mountLooked = true;
            m_physicalPath = m_isLink ? resolvedFolderOfLink() : physicalPath(m_url.path());
            if (m_physicalPath)
                m_mount = MountTable::snapshot().table->mountForPath(*m_physicalPath);
        }
        return m_mount;
    }

    bool isMountRoot()
    {
        return !m_isLink && mount() && *m_physicalPath == m_mount->mountPoint;
    }

    const std::optional<VolumeFacts> &facts()
    {
        if (!m_factsLooked) {
            m_factsLooked = true;
            if (mount())
                m_facts = VolumeFacts::forMount(*m_mount);
        }
        return m_facts;
    }

private:
    std::optional<std::string> resolvedFolderOfLink() const
    {
        const std::optional<std::string> folder = physicalPath(m_url.deletingLastPathComponent().path());
        if (!folder)
            return std::nullopt;
        return (*folder == "/" ? std::string() : *folder) + "/" + m_url.lastPathComponent();
    }

    const URL &m_url;
    bool m_isLink;
    bool m_mountLooked = false;
    bool m_factsLooked = false;
    std::optional<std::string> m_physicalPath;
    std::optional<MountEntry> m_mount;
    std::optional<VolumeFacts> m_facts;
};

// A theme icon named now and looked up where it is first drawn: Qt's theme lookup and its icon
// cache belong to the main thread, while the item's kind may be read on any thread.
class ThemeIconEngine : public QIconEngine
{
public:
    ThemeIconEngine(QString name, QString fallback)
        : m_name(std::move(name))
        , m_fallback(std::move(fallback))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return m_name; }
    bool isNull() override { return m_name.isEmpty() && m_fallback.isEmpty(); }
    QString key() const override { return QStringLiteral("TallowThemeIconEngine"); }
    QIconEngine *clone() const override { return new ThemeIconEngine(m_name, m_fallback); }

private:
    const QIcon &icon()
    {
        if (!m_icon)
            m_icon = QIcon::fromTheme(m_name, QIcon::fromTheme(m_fallback));
        return *m_icon;
    }

    const QString m_name;
    const QString m_fallback;
    std::optional<QIcon> m_icon;
};

QIcon themeIcon(const QString &name, const QString &fallback = {})
{
    if (MainThread::isCurrent())
        return fallback.isEmpty() ? QIcon::fromTheme(name) : QIcon::fromTheme(name, QIcon::fromTheme(fallback));
    return QIcon(new ThemeIconEngine(name, fallback));
}

// Icons come from the desktop's icon theme by kind; any thread may ask for one.
QIcon effectiveIcon(const std::string &path, const struct stat &status, bool isVolume)
{
    if (isVolume)
        return themeIcon(QStringLiteral("drive-harddisk"));
    if (S_ISDIR(status.st_mode))
        return themeIcon(QStringLiteral("folder"));
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QFile::decodeName(path.c_str()));
    return themeIcon(type.iconName(), type.genericIconName());
}
}

URL::URL(std::string path)
    : m_path(std::move(path))
{
}

URL URL::fileURLWithPath(const std::string &path)
{
    return URL(normalizedPath(path));
}

std::optional<URL> URL::URLForFileWhichExists(const std::string &path)
{
    const URL url = fileURLWithPath(XdgPaths::expandTilde(path));
    if (!url.isReachable())
        return std::nullopt;
    return url;
}

std::string URL::lastPathComponent() const
{
    if (m_path == "/" || m_path.empty())
        return m_path;
    return m_path.substr(m_path.rfind('/') + 1);
}

URL URL::appendingPathComponent(const std::string &component) const
{
    return URL(normalizedPath(m_path + "/" + component));
}

URL URL::deletingLastPathComponent() const
{
    const std::size_t slash = m_path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return URL("/");
    return URL(m_path.substr(0, slash));
}

std::optional<URLResourceValues> URL::resourceValues(const std::set<URLValues> &keys) const
{
    struct stat status;
    if (m_path.empty() || lstat(m_path.c_str(), &status) != 0)
        return std::nullopt;
    const bool isLink = S_ISLNK(status.st_mode);
    ItemVolume itemVolume(*this, isLink);

    URLResourceValues values;
    for (const URLValues key : keys) {
        switch (key) {
        case URLValues::customIconKey:
            // Linux file managers keep no custom icons that this system reads.
            break;
        case URLValues::effectiveIconKey:
            values.emplace(key, effectiveIcon(m_path, status, itemVolume.isMountRoot()));
            break;
        case URLValues::isDirectoryKey:
            values.emplace(key, S_ISDIR(status.st_mode));
            break;
        case URLValues::isHiddenKey:
            values.emplace(key, lastPathComponent().front() == '.');
            break;
        case URLValues::isPackageKey:
            values.emplace(key, S_ISDIR(status.st_mode) && PackageExtensions::hasPackageExtension(lastPathComponent()));
            break;
        case URLValues::isVolumeKey:
            values.emplace(key, itemVolume.isMountRoot());
            break;
        case URLValues::isWritableKey:
            values.emplace(key, faccessat(AT_FDCWD, m_path.c_str(), W_OK, AT_SYMLINK_NOFOLLOW) == 0);
            break;
        case URLValues::localizedNameKey:
            if (itemVolume.isMountRoot() && itemVolume.facts())
                values.emplace(key, itemVolume.facts()->localizedName);
            else
                values.emplace(key, lastPathComponent());
            break;
        case URLValues::parentDirectoryURLKey:
            if (m_path != "/")
                values.emplace(key, deletingLastPathComponent());
            break;
        case URLValues::volumeIsLocalKey:
            if (itemVolume.facts())
                values.emplace(key, itemVolume.facts()->isLocal);
            break;
        case URLValues::volumeIsReadOnlyKey:
            if (itemVolume.facts())
                values.emplace(key, itemVolume.facts()->isReadOnly);
            break;
        case URLValues::volumeLocalizedFormatDescriptionKey:
            if (itemVolume.facts())
                values.emplace(key, itemVolume.facts()->localizedFormatDescription);
            break;
        case URLValues::volumeURLKey:
            if (itemVolume.mount())
                values.emplace(key, URL(itemVolume.mount()->mountPoint));
            break;
        }
    }
    return values;
}

bool URL::isReachable() const
{
    struct stat status;
    return !m_path.empty() && lstat(m_path.c_str(), &status) == 0;
}

std::optional<URL> URL::volume() const
{
    return value<URL>(URLValues::volumeURLKey);
}

std::string URL::displayName() const
{
    return value<std::string>(URLValues::localizedNameKey).value_or(lastPathComponent());
}

std::string URL::displayPath() const
{
    const VolumeLocation location = VolumesFolders::locate(m_path);
    if (!location.isStartupDisk && m_path.size() > location.prefix.size()
        && m_path.compare(0, location.prefix.size(), location.prefix) == 0)
        return m_path.substr(location.prefix.size());
    return m_path;
}

std::optional<std::string> URL::diskFormatRaw() const
{
    struct stat status;
    if (m_path.empty() || lstat(m_path.c_str(), &status) != 0)
        return std::nullopt;
    ItemVolume itemVolume(*this, S_ISLNK(status.st_mode));
    if (!itemVolume.mount())
        return std::nullopt;
    return FileSystemTypes::translate(*itemVolume.mount());
}
