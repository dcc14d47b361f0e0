#include "XMetadataRemover.h"

#include "OwnTemporaryFiles.h"

#include <algorithm>
#include <utility>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "Error.h"
#include "ExtendedAttributes.h"
#include "FileDescriptor.h"
#include "FileOperations.h"
#include "FinderInfo.h"
#include "FolderAndName.h"
#include "OwnChanges.h"
#include "DirectoryRecords.h"
#include "SystemLog.h"
#include "XMetadataRemoverOwner.h"
#include "XProgressProtocol.h"
#include "XTWStore.h"

namespace
{
constexpr int blackListMatchFlags = FNM_NOESCAPE | FNM_PATHNAME | FNM_LEADING_DIR;
static_assert(blackListMatchFlags == 11);

constexpr const char *simulationPrefix = "Simulation mode is running so would have tried to ";

const char *const builtInNames[] = {".DS_Store", "desktop.ini", "Desktop.ini", "Thumbs.db", ".VolumeIcon.icns",
                                    ".apdisk",   "Icon\r",      ".AppleDouble", "@eaDir"};

// The text after the name's last dot; a leading dot starts no extension.
std::string pathExtension(const std::string &name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    return name.substr(dot + 1);
}

// Whether the folder's entry is there, its own self and not what a link points to.
bool entryExists(int folderFd, const std::string &name)
{
    struct stat status;
    return fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool matchesAny(const std::vector<std::string> &patterns, const char *name)
{
    return std::any_of(patterns.begin(), patterns.end(), [name](const std::string &pattern) {
        return fnmatch(pattern.c_str(), name, blackListMatchFlags) == 0;
    });
}

// Enough for a few hundred entries per call of the kernel.
constexpr std::size_t listingBufferSize = 32768;
}

std::optional<XMetadataRemover::BuiltInDeletable> XMetadataRemover::builtInDeletable(int rawValue)
{
    if (rawValue < 0 || rawValue > static_cast<int>(BuiltInDeletable::eaDir))
        return std::nullopt;
    return static_cast<BuiltInDeletable>(rawValue);
}

std::string XMetadataRemover::nameOf(BuiltInDeletable deletable)
{
    return builtInNames[static_cast<int>(deletable)];
}

std::vector<XMetadataRemover::BuiltInDeletable> XMetadataRemover::allValues()
{
    std::vector<BuiltInDeletable> values;
    for (int raw = 0; raw <= static_cast<int>(BuiltInDeletable::eaDir); ++raw)
        values.push_back(static_cast<BuiltInDeletable>(raw));
    return values;
}

std::vector<std::string> XMetadataRemover::allRawValues()
{
    std::vector<std::string> names;
    for (const BuiltInDeletable value : allValues())
        names.push_back(nameOf(value));
    return names;
}

XMetadataRemover::XMetadataRemover(std::shared_ptr<StatisticsManager> statistics)
    : m_statistics(std::move(statistics))
{
}

void XMetadataRemover::setOwner(std::weak_ptr<XMetadataRemoverOwner> owner)
{
    m_owner = std::move(owner);
}

std::shared_ptr<XProgressProtocol> XMetadataRemover::progress() const
{
    const std::shared_ptr<XMetadataRemoverOwner> owner = m_owner.lock();
    return owner ? owner->currentProgress() : nullptr;
}

StatisticsManager &XMetadataRemover::statistics() const
{
    return m_statistics ? *m_statistics : StatisticsManager::shared();
}

void XMetadataRemover::setTree(std::shared_ptr<const ConfinedTree> tree)
{
    m_tree = std::move(tree);
}

void XMetadataRemover::enterFolder(const std::string &path, int fd, FolderContents *entries,
                                   std::optional<bool> *volumeKeepsAttributes)
{
    m_keepsAttributes = volumeKeepsAttributes ? volumeKeepsAttributes : &m_folderKeepsAttributes;
    m_folderPath = std::string(FolderAndName::trimmed(path));
    m_folderFd = fd;
    m_folderEntries = entries;
    m_removedFromFolder.clear();
    m_folderKeepsAttributes.reset();
    m_folderDisplayName.reset();
    m_folderBeingChanged.reset();
    m_folderBeingChanged.emplace(fd, m_tree && OwnChanges::isRecording() ? m_tree->realPath(m_folderPath)
                                                                          : std::nullopt);
}

std::vector<std::string> XMetadataRemover::leaveFolder()
{
    if (!m_holdingStatistics)
        statistics().deletedItems(std::exchange(m_folderStatistics, {}));
    m_folderBeingChanged.reset();
    m_folderPath.clear();
    m_folderFd = -1;
    m_folderEntries = nullptr;
    m_folderKeepsAttributes.reset();
    m_keepsAttributes = &m_folderKeepsAttributes;
    return std::exchange(m_removedFromFolder, {});
}

void XMetadataRemover::postHeldStatistics()
{
    m_holdingStatistics = false;
    statistics().deletedItems(std::exchange(m_folderStatistics, {}));
}

void XMetadataRemover::setVolumeRoot(std::optional<URL> volumeRoot)
{
    m_volumeRoot = std::move(volumeRoot);
}

XMetadataRemover::Folder XMetadataRemover::folderNamed(const std::string &path)
{
    Folder folder;
    if (m_folderFd >= 0 && FolderAndName::trimmed(path) == m_folderPath) {
        folder.fd = m_folderFd;
        folder.entered = true;
        return folder;
    }
    // Nothing is reached but through the tree of a clean.
    if (!m_tree)
        throw Error::posix(EXDEV);
    folder.owned = m_tree->openFolder(path);
    folder.fd = folder.owned.get();
    return folder;
}

FolderContents &XMetadataRemover::contentsOf(const Folder &folder, FolderContents &listed) const
{
    if (folder.entered && m_folderEntries)
        return *m_folderEntries;
    // Listed from its start: an entered folder is listed by each pass that needs it. A folder
    // that cannot be listed (one that may only be searched) has no entries to act on.
    if (lseek(folder.fd, 0, SEEK_SET) != 0)
        return listed;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(listingBufferSize);
    DirectoryRecords::read(folder.fd, buffer.get(), listingBufferSize,
                           [&listed](std::string_view name, unsigned char type) {
                               if (!name.empty())
                                   listed.add(name, type == DT_DIR, type == DT_REG);
                           });
    return listed;
}

std::optional<bool> XMetadataRemover::folderKeepsAttributes(const Folder &folder)
{
    if (!folder.entered)
        return std::nullopt;
    if (!*m_keepsAttributes)
        *m_keepsAttributes = ExtendedAttributes::keepsAttributesNatively(folder.fd);
    return *m_keepsAttributes;
}

void XMetadataRemover::noteRemoved(const Folder &folder, const std::string &name, const std::optional<Entry> &entry)
{
    if (!folder.entered)
        return;
    if (entry && entry->contents == m_folderEntries)
        m_folderEntries->setRemoved(entry->position);
    else
        m_removedFromFolder.push_back(name);
}

std::optional<StatisticsManager::DeletionInformation> XMetadataRemover::deletionInformation(const URL &item)
{
    if (!m_volumeRoot)
        return StatisticsManager::DeletionInformation::forItem(item);
    const URL folder = item.deletingLastPathComponent();
    // The entered folder's name is looked up once for all its deletions.
    if (m_folderFd < 0 || folder.path() != m_folderPath)
        return StatisticsManager::DeletionInformation{*m_volumeRoot, folder.displayName()};
    // Below its volume's root a folder is named by its last component: only a volume's root
    // has a name of its own to look up.
    if (!m_folderDisplayName)
        m_folderDisplayName = folder == *m_volumeRoot ? folder.displayName() : folder.lastPathComponent();
    return StatisticsManager::DeletionInformation{*m_volumeRoot, *m_folderDisplayName};
}

void XMetadataRemover::countDeletion(const std::optional<StatisticsManager::DeletionInformation> &information)
{
    if (m_folderFd < 0 || !information) {
        statistics().deletedItem(information);
        return;
    }
    // A folder's deletions mostly share their information: one entry with a count.
    if (!m_folderStatistics.empty()) {
        StatisticsManager::CountedDeletions &last = m_folderStatistics.back();
        if (last.information.volume == information->volume
            && last.information.lastItemDeletedName == information->lastItemDeletedName) {
            ++last.count;
            return;
        }
    }
    m_folderStatistics.push_back(StatisticsManager::CountedDeletions{*information, 1});
}

void XMetadataRemover::reportDeletion(XProgressProtocol &progress, const URL &url,
                                      const std::optional<StatisticsManager::DeletionInformation> &information)
{
    progress.incrementNumberOfItemsDeleted();
    progress.deletionMessageForURL(url, std::nullopt);
    countDeletion(information);
}

void XMetadataRemover::deleteFile(const URL &url)
{
    deleteFileAt(url, std::nullopt);
}

void XMetadataRemover::deleteFileAt(const URL &url, const std::optional<Entry> &entry)
{
    if (!progress())
        return;
    const std::string name = url.lastPathComponent();
    if (name == "." || name == "..") {
        if (url.isReachable())
            SystemLog::post("Ignoring request to delete . or .. " + url.path());
        return;
    }
    Folder folder;
    try {
        folder = folderOf(url);
    } catch (const Error &error) {
        reportFailure(url, error);
        return;
    }
    // An item that is not there is skipped without a word: unlinkat answers ENOENT for it.
    if (m_isASimulation && !entryExists(folder.fd, name))
        return;
    const std::optional<StatisticsManager::DeletionInformation> information = deletionInformation(url);
    if (m_isASimulation) {
        SystemLog::post(std::string(simulationPrefix) + "delete: " + url.path()
                         + ". Stats will be updated as if the items were deleted.");
    } else {
        OwnChanges::noteRemovalAt(folder.fd, name);
        if (unlinkat(folder.fd, name.c_str(), 0) != 0) {
            reportFailure(url, Error::POSIXerrno());
            return;
        }
        noteRemoved(folder, name, entry);
    }
    if (const std::shared_ptr<XProgressProtocol> current = progress())
        reportDeletion(*current, url, information);
}

// An item that vanished on its own is no failure.
void XMetadataRemover::reportFailure(const URL &url, const Error &error) const
{
    if (error.code() == ENOENT)
        return;
    if (const std::shared_ptr<XProgressProtocol> current = progress())
        current->deletionMessageForURL(url, error);
}

void XMetadataRemover::deleteDirectory(const URL &url)
{
    deleteDirectoryAt(url, std::nullopt);
}

void XMetadataRemover::deleteDirectoryAt(const URL &url, const std::optional<Entry> &entry)
{
    if (!progress())
        return;
    if (m_isASimulation) {
        if (url.isReachable())
            SystemLog::post(std::string(simulationPrefix) + "delete: " + url.path() + ".");
        return;
    }
    const std::optional<StatisticsManager::DeletionInformation> information = deletionInformation(url);
    try {
        if (!deleteDirectoryLowAt(url, entry))
            return;
    } catch (const Error &error) {
        reportFailure(url, error);
        return;
    }
    if (const std::shared_ptr<XProgressProtocol> current = progress())
        reportDeletion(*current, url, information);
}

void XMetadataRemover::removeItem(const URL &url)
{
    const Folder parent = folderOf(url);
    const std::string name = url.lastPathComponent();
    FileOperations::removeItemAt(parent.fd, name);
    noteRemoved(parent, name);
}

bool XMetadataRemover::deleteDirectoryLow(const URL &url)
{
    return deleteDirectoryLowAt(url, std::nullopt);
}

bool XMetadataRemover::deleteDirectoryLowAt(const URL &url, const std::optional<Entry> &entry)
{
    if (m_isASimulation) {
        if (url.isReachable())
            SystemLog::post(std::string(simulationPrefix) + "delete: " + url.path() + ".");
        return false;
    }
    const Folder parent = folderOf(url);
    const std::string name = url.lastPathComponent();
    struct statx status;
    if (statx(parent.fd, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &status) != 0) {
        if (errno == ENOENT)
            return false;
        throw Error::POSIXerrno();
    }
    if (!S_ISDIR(status.stx_mode))
        return false;
    // A folder that another file system is mounted on is never entered.
    struct stat parentStatus;
    if (fstat(parent.fd, &parentStatus) != 0)
        throw Error::POSIXerrno();
    const bool isMountRoot =
        (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (status.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    if (isMountRoot || makedev(status.stx_dev_major, status.stx_dev_minor) != parentStatus.st_dev)
        throw Error::posix(EBUSY);
    FileOperations::removeItemAt(parent.fd, name);
    noteRemoved(parent, name, entry);
    return true;
}

void XMetadataRemover::removeBlackListFiles(const std::vector<std::string> &patterns, const URL &directory)
{
    if (patterns.empty() || !progress())
        return;
    try {
        const Folder folder = folderNamed(directory.path());
        FolderContents listed;
        FolderContents &contents = contentsOf(folder, listed);
        for (const WalkEntry &entry : contents) {
            if ((entry.isRegularFile || entry.isDirectory) && matchesAny(patterns, entry.nameBytes))
                contents.setChosen(entry.position, true);
        }
        // Files first, then folders, each in listing order.
        for (const bool files : {true, false}) {
            for (const WalkEntry &entry : contents) {
                if (!contents.isChosen(entry.position) || entry.isRegularFile != files)
                    continue;
                const URL item = directory.appendingPathComponent(std::string(entry.name()));
                if (files)
                    deleteFileAt(item, Entry{&contents, entry.position});
                else
                    deleteDirectoryAt(item, Entry{&contents, entry.position});
            }
        }
        for (const WalkEntry &entry : contents)
            contents.setChosen(entry.position, false);
    } catch (const Error &error) {
        reportFailure(directory, error);
    }
}

void XMetadataRemover::removeStaleTemporaryFiles(const URL &directory)
{
    if (m_isASimulation)
        return;
    try {
        const Folder folder = folderNamed(directory.path());
        FolderContents listed;
        const FolderContents &contents = contentsOf(folder, listed);
        std::vector<std::pair<std::string, FolderPosition>> found;
        for (const WalkEntry &entry : contents) {
            if (entry.isRegularFile && OwnTemporaryFiles::isOwnTemporaryName(entry.name()))
                found.emplace_back(std::string(entry.name()), entry.position);
        }
        const std::time_t now = std::time(nullptr);
        for (const auto &[name, position] : found) {
            if (OwnTemporaryFiles::removeIfStale(folder.fd, name, now))
                noteRemoved(folder, name, Entry{&contents, position});
        }
    } catch (const Error &error) {
        reportFailure(directory, error);
    }
}

XMetadataRemover::CanRemoveAppleDoubleFileResult
XMetadataRemover::removeAppleDoubleFiles(const URL &directory, bool keepVolumeAttrs, bool keepSecurityData,
                                         bool keepTags, bool keepAliasData, bool keepColorLabels, bool keepCustomIcons)
{
    const std::shared_ptr<XProgressProtocol> startProgress = progress();
    if (!startProgress)
        return CanRemoveAppleDoubleFileResult::keep;
    startProgress->displayCleaningProgressForFolder(directory);
    const std::string neverDeleteExtensions = XTWStore::neverDeleteFileExtensions();
    const std::string neverDeleteTypes = XTWStore::neverDeleteMacOSTypes();

    CanRemoveAppleDoubleFileResult result = CanRemoveAppleDoubleFileResult::remove;
    try {
        const Folder folder = folderNamed(directory.path());
        FolderContents listed;
        FolderContents &contents = contentsOf(folder, listed);
        // The companions that may go are chosen in the contents themselves: a folder may hold a
        // great many.
        for (const WalkEntry &entry : contents) {
            const std::string_view name = entry.name();
            if (!entry.isRegularFile)
                continue;
            if (name == "._." && keepVolumeAttrs)
                continue;
            // "._" names no data file, and the data file of "._.." would be the parent folder.
            if (!name.starts_with("._") || name == "._" || name == "._..")
                continue;
            const std::shared_ptr<XProgressProtocol> current = progress();
            if (!current || current->userHasCanceled())
                break;
            const URL dataFile = directory.appendingPathComponent(std::string(name.substr(2)));
            if (canRemoveAppleDoubleFile(dataFile, keepSecurityData, keepTags, keepAliasData, keepColorLabels,
                                         keepCustomIcons, neverDeleteExtensions, neverDeleteTypes)
                == CanRemoveAppleDoubleFileResult::remove)
                contents.setChosen(entry.position, true);
            else
                result = CanRemoveAppleDoubleFileResult::keep;
        }
        for (const WalkEntry &entry : contents) {
            if (!contents.isChosen(entry.position))
                continue;
            contents.setChosen(entry.position, false);
            deleteFileAt(directory.appendingPathComponent(std::string(entry.name())), Entry{&contents, entry.position});
        }
    } catch (const Error &error) {
        reportFailure(directory, error);
        return CanRemoveAppleDoubleFileResult::keep;
    }
    return result;
}

XMetadataRemover::CanRemoveAppleDoubleFileResult
XMetadataRemover::canRemoveAppleDoubleFile(const URL &fileURL, bool securityData, bool tags, bool aliasData,
                                           bool colorLabels, bool customIcons, const std::string &neverDeleteExtensions,
                                           const std::string &neverDeleteTypes)
{
    const std::string extension = pathExtension(fileURL.lastPathComponent());
    if (extension == "fpbf")
        return CanRemoveAppleDoubleFileResult::keep;
    if (!extension.empty() && neverDeleteExtensions.find(extension) != std::string::npos)
        return CanRemoveAppleDoubleFileResult::keep;
    const std::string name = fileURL.lastPathComponent();
    Folder folder;
    try {
        folder = folderOf(fileURL);
    } catch (const Error &error) {
        reportFailure(fileURL, error);
        return CanRemoveAppleDoubleFileResult::keep;
    }
    const std::optional<bool> keepsAttributes = folderKeepsAttributes(folder);
    // Without types to protect no type needs reading.
    const std::optional<std::string> quotedType =
        neverDeleteTypes.empty() ? std::nullopt : NSHFSTypeOfFileAt(folder.fd, name, keepsAttributes);
    if (quotedType) {
        std::string type = *quotedType;
        std::erase(type, '\'');
        if (!type.empty() && neverDeleteTypes.find(type) != std::string::npos)
            return CanRemoveAppleDoubleFileResult::keep;
    }

    bool keepFinderInfo = customIcons || tags;
    if (!keepFinderInfo && (aliasData || colorLabels)) {
        const std::optional<FinderInfo> finderInfo = FinderInfo::ofItemAt(folder.fd, name, keepsAttributes);
        if (aliasData && finderInfo && finderInfo->isAlias())
            keepFinderInfo = true;
        // A label that cannot be read (the data file is missing) counts as none.
        if (colorLabels && finderInfo && finderInfo->colorLabel() != 0)
            keepFinderInfo = true;
    }
    return stripUnwantedAttrs(fileURL, keepFinderInfo, securityData, tags, customIcons)
                   == StripUnwantedAttrsResult::remove
               ? CanRemoveAppleDoubleFileResult::remove
               : CanRemoveAppleDoubleFileResult::keep;
}

XMetadataRemover::StripUnwantedAttrsResult XMetadataRemover::stripUnwantedAttrs(const URL &fileURL,
                                                                                bool keepFinderInfo,
                                                                                bool keepSecurityData, bool keepTags,
                                                                                bool keepCustomIconsResources)
{
    if (!progress())
        return StripUnwantedAttrsResult::keep;
    std::vector<std::string> kept;
    if (keepFinderInfo)
        kept.emplace_back("com.apple.FinderInfo");
    if (keepSecurityData)
        kept.emplace_back("com.apple.quarantine");
    if (keepTags)
        kept.emplace_back("com.apple.metadata:_kMDItemUserTags");
    if (keepCustomIconsResources)
        kept.emplace_back("com.apple.ResourceFork");
    if (kept.empty())
        return StripUnwantedAttrsResult::remove;

    const std::string dataName = fileURL.lastPathComponent();
    const std::string companionName = "._" + dataName;
    Folder folder;
    try {
        folder = folderOf(fileURL);
    } catch (const Error &error) {
        reportFailure(fileURL, error);
        return StripUnwantedAttrsResult::keep;
    }
    const std::optional<bool> keepsAttributes = folderKeepsAttributes(folder);
    const URL companion = fileURL.deletingLastPathComponent().appendingPathComponent(companionName);
    std::vector<std::string> names;
    try {
        names = ExtendedAttributes::listAt(folder.fd, dataName, keepsAttributes);
    } catch (const Error &error) {
        // A damaged companion, an unreadable list: the "._" file stays, and the user hears why
        // (a missing data file is no news: its companion is simply kept).
        reportFailure(companion, error);
        return StripUnwantedAttrsResult::keep;
    }
    const std::optional<StatisticsManager::DeletionInformation> information = deletionInformation(fileURL);
    const bool companionWasThere = entryExists(folder.fd, companionName);

    std::vector<std::string> removed;
    std::optional<Error> failure;
    for (const std::string &name : names) {
        if (std::find(kept.begin(), kept.end(), name) != kept.end())
            continue;
        if (m_isASimulation) {
            SystemLog::post(std::string(simulationPrefix) + "remove " + name + " from: " + fileURL.path() + ".");
            removed.push_back(name);
            continue;
        }
        try {
            ExtendedAttributes::removeAt(folder.fd, dataName, name, keepsAttributes);
            removed.push_back(name);
        } catch (const Error &error) {
            // One message for the companion, with the first failure (a full disk refusing the
            // rewrite, a refused removal); an attribute gone meanwhile is none.
            if (!failure && error.code() != ENODATA)
                failure = error;
        }
    }
    if (failure)
        reportFailure(companion, *failure);
    const bool everythingGoes = removed.size() == names.size();
    // A simulation that would empty the companion leaves its report to the simulated deletion
    // of the "._" file that follows.
    const bool reportRemovals = !removed.empty() && !(m_isASimulation && everythingGoes);
    if (reportRemovals) {
        if (const std::shared_ptr<XProgressProtocol> current = progress()) {
            if (!companionWasThere || entryExists(folder.fd, companionName)) {
                for (const std::string &name : removed)
                    current->deletionMessageForContent(name, companion, std::nullopt);
            } else {
                noteRemoved(folder, companionName);
                current->incrementNumberOfItemsDeleted();
                current->deletionMessageForURL(companion, std::nullopt);
            }
        }
        countDeletion(information);
    }
    return everythingGoes ? StripUnwantedAttrsResult::remove : StripUnwantedAttrsResult::keep;
}
