#include "PathLists.h"

#include <algorithm>
#include <array>
#include <fnmatch.h>

#include "Logger.h"
#include "TarnwickStore.h"

namespace
{
// Paths no clean touches. An entry beginning with "*" matches anywhere in the
// volume-relative path; any other entry matches its beginning.
constexpr std::array<std::string_view, 19> ignoreList{
    "/dev/",
    "/Library/Caches/",
    "/net/",
    "/Network",
    "/private/",
    "/System/",
    "*.app/",
    "*.framework/",
    "*.hg/",
    "*.mpkg/",
    "*.pkg/",
    "*/.Spotlight-V100/",
    "*/.TemporaryItems/",
    "*/.Trashes/",
    "*/(A Document Being Saved By ",
    "*.backupdb/",
    "*/Library/Application Support/",
    "*/Library/Caches/",
    "*/Library/Containers/",
};

// Volumes of the system's own that are never cleaned, named as they appear in a volumes folder.
constexpr std::array<std::string_view, 3> ignoredVolumeNames{
    "firmwaresyncd",
    "EFI",
    "com.apple.TimeMachine.localsnapshots",
};

constexpr int whiteListMatchFlags = FNM_NOESCAPE | FNM_PATHNAME | FNM_LEADING_DIR;
// A pattern matched against a whole path, or against the path up to one of its slashes.
constexpr int wholeMatchFlags = FNM_NOESCAPE | FNM_PATHNAME;

bool isAnywhereEntry(std::string_view entry)
{
    return entry.starts_with('*');
}

// The longest text an entry beginning with "*" looks for.
constexpr std::size_t longestAnywhereText()
{
    std::size_t longest = 0;
    for (std::string_view entry : ignoreList) {
        if (isAnywhereEntry(entry))
            longest = std::max(longest, entry.size() - 1);
    }
    return longest;
}

bool matchesIgnoreEntry(std::string_view entry, std::string_view relativePath)
{
    if (isAnywhereEntry(entry))
        return relativePath.find(entry.substr(1)) != std::string_view::npos;
    return relativePath.starts_with(entry);
}

bool holdsAnywhereEntry(std::string_view text)
{
    return std::any_of(ignoreList.begin(), ignoreList.end(), [text](std::string_view entry) {
        return isAnywhereEntry(entry) && matchesIgnoreEntry(entry, text);
    });
}

bool startsWithEntry(std::string_view relativePath)
{
    return std::any_of(ignoreList.begin(), ignoreList.end(), [relativePath](std::string_view entry) {
        return !isAnywhereEntry(entry) && matchesIgnoreEntry(entry, relativePath);
    });
}

bool onIgnoredVolume(const std::string &path, const VolumeLocation &location)
{
    if (location.prefix.empty() || !path.starts_with(location.prefix))
        return false;
    const std::string_view rest = std::string_view(path).substr(location.prefix.size());
    return std::any_of(ignoredVolumeNames.begin(), ignoredVolumeNames.end(),
                       [rest](std::string_view name) { return rest.starts_with(name); });
}

void logWhenDetailed(const std::string &message)
{
    if (TarnwickStore::sharedInstance().detailedLoggingEnabled())
        Logger::shared().log(message);
}

std::string withFinalSlash(const std::string &path)
{
    return path.ends_with('/') ? path : path + "/";
}

// Where the path as seen from its volume's root begins: a path on a disk in a volumes folder
// loses the folder and the disk's name; any other path stays as it is. A disk's root itself is
// seen as "/".
struct RelativeStart
{
    std::size_t start = 0;
    bool isRoot = false;
};

RelativeStart relativeStartOf(std::string_view path, const VolumeLocation &location)
{
    if (location.isStartupDisk)
        return {};
    const std::string volumeRoot = location.prefix + location.name;
    if (!path.starts_with(volumeRoot))
        return {};
    if (path.size() == volumeRoot.size())
        return {0, true};
    return {volumeRoot.size(), false};
}

std::string_view relativePath(std::string_view pathWithSlash, RelativeStart relative)
{
    return relative.isRoot ? std::string_view("/") : pathWithSlash.substr(relative.start);
}
}

PathLists::PathLists(const std::vector<std::string> &whiteList)
{
    for (const std::string &pattern : whiteList) {
        const bool bracket = pattern.find('[') != std::string::npos;
        m_hasBracketPatterns = m_hasBracketPatterns || bracket;
        // With FNM_PATHNAME only a "/" of the pattern matches a "/" of the path.
        m_patterns.push_back(Pattern{pattern, bracket ? -1 : std::count(pattern.begin(), pattern.end(), '/')});
    }
}

bool PathLists::wholeMatch(std::string_view path, std::size_t slashes) const
{
    std::string text;
    for (const Pattern &pattern : m_patterns) {
        if (pattern.slashes != static_cast<std::ptrdiff_t>(slashes))
            continue;
        if (text.empty())
            text = std::string(path);
        if (fnmatch(pattern.text.c_str(), text.c_str(), wholeMatchFlags) == 0)
            return true;
    }
    return false;
}

bool PathLists::bracketMatch(const std::string &path) const
{
    if (!m_hasBracketPatterns)
        return false;
    return std::any_of(m_patterns.begin(), m_patterns.end(), [&path](const Pattern &pattern) {
        return pattern.slashes < 0 && fnmatch(pattern.text.c_str(), path.c_str(), whiteListMatchFlags) == 0;
    });
}

// FNM_LEADING_DIR lets a pattern match the path up to any of its slashes, or the whole path:
// with the path's slashes counted, each pattern is tried once, where its own slashes fall.
PathLists::Progress PathLists::progressOf(const std::string &path, const VolumeLocation &location) const
{
    Progress progress;
    const std::string slashed = withFinalSlash(path);
    const RelativeStart relative = relativeStartOf(slashed, location);
    progress.relativeStart = relative.start;
    progress.relativeIsRoot = relative.isRoot;
    progress.ignoredWithin = holdsAnywhereEntry(relativePath(slashed, relative));
    for (std::size_t at = 0; at < path.size(); ++at) {
        if (path[at] != '/')
            continue;
        progress.whiteBeforeEnd =
            progress.whiteBeforeEnd || wholeMatch(std::string_view(path).substr(0, at), progress.slashes);
        ++progress.slashes;
    }
    progress.whiteWhole = wholeMatch(path, progress.slashes);
    return progress;
}

PathLists::Progress PathLists::descend(const std::string &folderPath, const Progress &folder,
                                       const std::string &subfolderPath, const VolumeLocation &location) const
{
    const std::size_t folderSlashedLength = folderPath.size() + (folderPath.ends_with('/') ? 0 : 1);
    const std::string subfolderSlashed = withFinalSlash(subfolderPath);
    if (subfolderSlashed.size() <= folderSlashedLength
        || subfolderSlashed.compare(0, folderSlashedLength, withFinalSlash(folderPath)) != 0)
        return progressOf(subfolderPath, location);

    Progress progress;
    const RelativeStart relative = relativeStartOf(subfolderSlashed, location);
    progress.relativeStart = relative.start;
    progress.relativeIsRoot = relative.isRoot;
    if (relative.isRoot || folder.relativeIsRoot || relative.start != folder.relativeStart) {
        progress.ignoredWithin = holdsAnywhereEntry(relativePath(subfolderSlashed, relative));
    } else {
        // What the folder's relative path held it still holds; a text found anew ends in the
        // new component, so it begins no further back than its own length.
        const std::size_t reach = longestAnywhereText() - 1;
        const std::size_t from =
            std::max(relative.start, folderSlashedLength > reach ? folderSlashedLength - reach : 0);
        progress.ignoredWithin =
            folder.ignoredWithin || holdsAnywhereEntry(std::string_view(subfolderSlashed).substr(from));
    }

    progress.whiteBeforeEnd = folder.whiteBeforeEnd;
    progress.slashes = folder.slashes;
    for (std::size_t at = folderPath.size(); at < subfolderPath.size(); ++at) {
        if (subfolderPath[at] != '/')
            continue;
        // At the folder's own end the match is the one already found for its whole path.
        const bool matched = at == folderPath.size()
                                 ? folder.whiteWhole
                                 : wholeMatch(std::string_view(subfolderPath).substr(0, at), progress.slashes);
        progress.whiteBeforeEnd = progress.whiteBeforeEnd || matched;
        ++progress.slashes;
    }
    progress.whiteWhole = wholeMatch(subfolderPath, progress.slashes);
    return progress;
}

bool PathLists::whiteListHolds(const std::string &path, const Progress &progress, bool withSlash) const
{
    if (!withSlash || path.ends_with('/'))
        return progress.whiteBeforeEnd || progress.whiteWhole || bracketMatch(path);
    const std::string slashed = path + "/";
    return progress.whiteBeforeEnd || progress.whiteWhole || wholeMatch(slashed, progress.slashes + 1)
           || bracketMatch(slashed);
}

bool PathLists::isInIgnoreList(const std::string &path, const Progress &progress, const VolumeLocation &location) const
{
    if (onIgnoredVolume(path, location))
        return true;
    const std::string slashed = withFinalSlash(path);
    const std::string_view relative = relativePath(slashed, {progress.relativeStart, progress.relativeIsRoot});
    if (progress.ignoredWithin || startsWithEntry(relative)) {
        logWhenDetailed("Path is in ignorelist:" + std::string(relative));
        return true;
    }
    if (whiteListHolds(path, progress, true)) {
        logWhenDetailed("Path is in whitelist:" + slashed);
        return true;
    }
    return false;
}

bool PathLists::isInWhiteList(const std::string &path, const Progress &progress) const
{
    if (!whiteListHolds(path, progress, false))
        return false;
    logWhenDetailed("Path is in whitelist:" + path);
    return true;
}

bool PathLists::isInIgnoreList(const std::string &path, bool isDirectory, const VolumeLocation &location,
                               const std::vector<std::string> &whiteList)
{
    if (onIgnoredVolume(path, location))
        return true;
    const std::string withSlash = isDirectory ? withFinalSlash(path) : path;
    const std::string_view relative = relativePath(withSlash, relativeStartOf(withSlash, location));
    if (holdsAnywhereEntry(relative) || startsWithEntry(relative)) {
        logWhenDetailed("Path is in ignorelist:" + std::string(relative));
        return true;
    }
    if (matchesWhiteList(withSlash, whiteList)) {
        logWhenDetailed("Path is in whitelist:" + withSlash);
        return true;
    }
    return false;
}

bool PathLists::matchesWhiteList(const std::string &path, const std::vector<std::string> &whiteList)
{
    return std::any_of(whiteList.begin(), whiteList.end(), [&path](const std::string &pattern) {
        return fnmatch(pattern.c_str(), path.c_str(), whiteListMatchFlags) == 0;
    });
}

bool PathLists::isInWhiteList(const std::string &path, const std::vector<std::string> &whiteList)
{
    if (!matchesWhiteList(path, whiteList))
        return false;
    logWhenDetailed("Path is in whitelist:" + path);
    return true;
}
