#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CleaningChoices.h"
#include "TWVolumeInfo.h"
#include "URL.h"
#include "VolumesFolders.h"
#include "XFSDiskOrDirectory.h"

// What stays the same during one walk: the user's white list and the paths of the records,
// in the store's comparison form (lower case, final "/").
struct WalkContext
{
    std::vector<std::string> whiteList;
    std::vector<std::string> recordPaths;

    static WalkContext current();
    // For each record path, whether it begins the folder's path.
    std::vector<bool> recordsGoverning(const std::string &comparablePath) const;
};

// What a walk knows about the volume of the folders it visits: read where the walk enters
// the volume and shared by every folder below it down to the next mount point.
struct WalkVolume
{
    // The volume could not be examined, is hidden or is mounted read-only.
    bool unusable = true;
    std::optional<TWVolumeInfo> info;
    VolumeLocation location;
    // Where the volume is mounted, as the deletion statistics name it.
    std::optional<URL> mountPoint;
    // Whether it keeps `user.` attributes itself; asked the first time a folder needs to know.
    std::optional<bool> keepsAttributes;
    // The store's record of the first folder looked up on this volume, and which record paths
    // begin that folder's path: another folder begun by the same ones has the same record.
    bool recordKnown = false;
    std::shared_ptr<const CleaningChoices> record;
    std::vector<bool> recordsGoverningRecord;

    static std::shared_ptr<WalkVolume> read(const std::string &path);
};

// One entry of a folder the walk visits; links are never directories. Its name lies in the
// name store of the folder's contents.
struct WalkEntry
{
    const char *nameBytes = nullptr;
    std::uint32_t nameLength = 0;
    bool isDirectory = false;
    // A deletion of the folder's clean may have taken it.
    bool mayBeRemoved = false;
    bool isRegularFile = false;
    // A folder that is the root of a mount (a bind mount too).
    bool isMountRoot = false;

    std::string_view name() const { return std::string_view(nameBytes, nameLength); }
};

// A folder's entries, read before its clean: the clean asks for no name that is not there,
// and the walk goes on with what the clean left, instead of listing the folder again. The
// names go into blocks of a fixed size and the entries into a deque, so that a folder of a
// million entries takes about what its names and flags need, with no copy made as it grows.
class FolderContents
{
public:
    FolderContents() = default;
    FolderContents(FolderContents &&) = default;
    FolderContents &operator=(FolderContents &&) = default;
    FolderContents(const FolderContents &) = delete;
    FolderContents &operator=(const FolderContents &) = delete;

    void add(std::string_view name, bool isDirectory, bool isRegularFile, bool isMountRoot);
    std::size_t size() const { return m_entries.size(); }
    const WalkEntry &operator[](std::size_t index) const { return m_entries[index]; }
    const std::deque<WalkEntry> &entries() const { return m_entries; }

    // Marks the entries the name can stand for (letter case aside, since a volume may ignore
    // it); true when there is one, or when the name reaches below the folder.
    bool mark(std::string_view name);
    // Marks the "._" entries; true when there is one.
    bool markAppleDoubleFiles();
    // Marks the regular files named as our own temporary copies; true when there is one.
    bool markOwnTemporaryFiles();
    // Marks the entries a black-list pattern matches; true when there is one.
    bool markMatching(const std::vector<std::string> &patterns);
    // Drops the marked entries the clean removed: those of the removed names, and the ones
    // that differ from such a name in letter case alone and are gone from the folder.
    void dropRemoved(int folderFd, const std::vector<std::string> &removed);

private:
    static constexpr std::size_t nameBlockSize = 65536;

    std::deque<WalkEntry> m_entries;
    std::vector<std::unique_ptr<char[]>> m_nameBlocks;
    std::size_t m_blockUsed = nameBlockSize;
};

// A path as the store compares record paths: lower case, with a final "/".
std::string comparableRecordPath(const std::string &path);
