#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "VolumesFolders.h"

// The paths no clean touches: the built-in ignore list (matched against the volume-relative
// path) and the user's white list (fnmatch patterns with FNM_NOESCAPE | FNM_PATHNAME |
// FNM_LEADING_DIR).
//
// A walk asks about every folder it meets. Made once for a walk, the lists answer a folder
// from what they found in its parent's path and what its own name adds, so that a folder
// deep in a tree costs what a shallow one does: an ignore entry that begins with "*" is looked
// for only where it could end in the new name, and a white-list pattern, which matches one
// path component per component of its own, is tried only at the depth where it can match.
// The answers are those of matching the whole path, which the one-off tests still do.
class PathLists
{
public:
    explicit PathLists(const std::vector<std::string> &whiteList);

    // What the lists have found in a folder's path; a subfolder carries it on.
    struct Progress
    {
        // Where the volume-relative form starts in the path with its final slash; with
        // `relativeIsRoot`, that form is "/" whatever the path.
        std::size_t relativeStart = 0;
        bool relativeIsRoot = false;
        // The volume-relative form holds an ignore entry that begins with "*".
        bool ignoredWithin = false;
        // A white-list pattern matched the path up to one of its slashes.
        bool whiteBeforeEnd = false;
        // A white-list pattern matches the whole path.
        bool whiteWhole = false;
        // The slashes in the path.
        std::size_t slashes = 0;
    };

    // A folder's progress from its whole path: at the root of a walk and where the walk enters
    // another volume.
    Progress progressOf(const std::string &path, const VolumeLocation &location) const;
    // A subfolder's progress: its path is the folder's path with one more component.
    Progress descend(const std::string &folderPath, const Progress &folder, const std::string &subfolderPath,
                     const VolumeLocation &location) const;

    // What isInIgnoreList answers for the folder (a directory), logged as it logs.
    bool isInIgnoreList(const std::string &path, const Progress &progress, const VolumeLocation &location) const;
    // What the white list answers for the path itself, logged as it logs.
    bool isInWhiteList(const std::string &path, const Progress &progress) const;

    // The one-off tests, from the whole path. A directory's path is matched with a final "/".
    static bool isInIgnoreList(const std::string &path, bool isDirectory, const VolumeLocation &location,
                               const std::vector<std::string> &whiteList);
    static bool matchesWhiteList(const std::string &path, const std::vector<std::string> &whiteList);
    // matchesWhiteList, logged as the white list logs.
    static bool isInWhiteList(const std::string &path, const std::vector<std::string> &whiteList);

private:
    struct Pattern
    {
        std::string text;
        // The slashes a path matching it whole must have; none known for a bracket expression,
        // which is then matched against the whole path every time.
        std::ptrdiff_t slashes;
    };

    bool wholeMatch(std::string_view path, std::size_t slashes) const;
    bool bracketMatch(const std::string &path) const;
    bool whiteListHolds(const std::string &path, const Progress &progress, bool withFinalSlash) const;

    std::vector<Pattern> m_patterns;
    bool m_hasBracketPatterns = false;
};
