#include "XMetadataRemover.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "Error.h"
#include "ExtendedAttributeHelpers.h"
#include "FileDescriptor.h"
#include "FileOperations.h"
#include "FinderInfo.h"
#include "FolderAndName.h"
#include "OwnChanges.h"
#include "ReaddirIterator.h"
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

// The folder holding the item, opened without following a final symbolic link.
FileDescriptor openParentOf(const URL &url)
{
    return FileDescriptor(open(url.deletingLastPathComponent().path().c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool matchesAny(const std::vector<std::string> &patterns, const std::string &name)
{
    return std::any_of(patterns.begin(), patterns.end(), [&name](const std::string &pattern) {
        return fnmatch(pattern.c_str(), name.c_str(), blackListMatchFlags) == 0;
    });
}
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

void XMetadataRemover::reportDeletion(XProgressProtocol &progress, const URL &url,
                                      const std::optional<StatisticsManager::DeletionInformation> &information)
{
    progress.incrementNumberOfItemsDeleted();
    progress.deletionMessageForURL(url, std::nullopt);
    statistics().deletedItem(information);
}

void XMetadataRemover::unlink(const URL &url)
{
    const FileDescriptor parent = openParentOf(url);
    if (!parent.isValid())
        throw Error::POSIXerrno();
    const std::string name = url.lastPathComponent();
    OwnChanges::noteRemovalAt(parent.get(), name);
    if (unlinkat(parent.get(), name.c_str(), 0) != 0)
        throw Error::POSIXerrno();
}

void XMetadataRemover::deleteFile(const URL &url)
{
    if (!progress() || !url.isReachable())
        return;
    const std::string name = url.lastPathComponent();
    if (name == "." || name == "..") {
        SystemLog::write("Ignoring request to delete . or .. " + url.path());
        return;
    }
    const std::optional<StatisticsManager::DeletionInformation> information =
        StatisticsManager::DeletionInformation::forItem(url);
    if (m_isASimulation) {
        SystemLog::write(std::string(simulationPrefix) + "delete: " + url.path()
                         + ". Stats will be updated as if the items were deleted.");
    } else {
        try {
            unlink(url);
        } catch (const Error &error) {
            reportFailure(url, error);
            return;
        }
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
    if (!progress() || !url.isReachable())
        return;
    if (m_isASimulation) {
        SystemLog::write(std::string(simulationPrefix) + "delete: " + url.path() + ".");
        return;
    }
    const std::optional<StatisticsManager::DeletionInformation> information =
        StatisticsManager::DeletionInformation::forItem(url);
    try {
        if (!deleteDirectoryLow(url))
            return;
    } catch (const Error &error) {
        reportFailure(url, error);
        return;
    }
    if (const std::shared_ptr<XProgressProtocol> current = progress())
        reportDeletion(*current, url, information);
}

bool XMetadataRemover::deleteDirectoryLow(const URL &url)
{
    if (!url.isReachable())
        return false;
    if (m_isASimulation) {
        SystemLog::write(std::string(simulationPrefix) + "delete: " + url.path() + ".");
        return false;
    }
    const FileDescriptor parent = openParentOf(url);
    if (!parent.isValid())
        throw Error::POSIXerrno();
    const std::string name = url.lastPathComponent();
    struct statx status;
    if (statx(parent.get(), name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &status) != 0) {
        if (errno == ENOENT)
            return false;
        throw Error::POSIXerrno();
    }
    if (!S_ISDIR(status.stx_mode))
        return false;
    // A folder that another file system is mounted on is never entered.
    struct stat parentStatus;
    if (fstat(parent.get(), &parentStatus) != 0)
        throw Error::POSIXerrno();
    const bool isMountRoot =
        (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (status.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    if (isMountRoot || makedev(status.stx_dev_major, status.stx_dev_minor) != parentStatus.st_dev)
        throw Error::posix(EBUSY);
    FileOperations::removeItemAt(parent.get(), name);
    return true;
}

void XMetadataRemover::removeBlackListFiles(const std::vector<std::string> &patterns, const URL &directory)
{
    if (patterns.empty() || !progress())
        return;
    const readdirIterator::Results listing = readdirIterator::contentsOfDirectory(directory.path());
    std::vector<URL> files;
    std::vector<URL> folders;
    for (const std::string &path : listing.files) {
        if (matchesAny(patterns, FolderAndName::nameOf(path)))
            files.push_back(URL::fileURLWithPath(path));
    }
    for (const std::string &path : listing.directories) {
        if (matchesAny(patterns, FolderAndName::nameOf(path)))
            folders.push_back(URL::fileURLWithPath(path));
    }
    for (const URL &file : files)
        deleteFile(file);
    for (const URL &folder : folders)
        deleteDirectory(folder);
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

    const readdirIterator::Results listing = readdirIterator::contentsOfDirectory(directory.path());
    CanRemoveAppleDoubleFileResult result = CanRemoveAppleDoubleFileResult::remove;
    std::vector<URL> removable;
    for (const std::string &path : listing.files) {
        const std::shared_ptr<XProgressProtocol> current = progress();
        if (!current || current->userHasCanceled())
            break;
        const std::string name = FolderAndName::nameOf(path);
        if (name == "._." && keepVolumeAttrs)
            continue;
        // "._" names no data file, and the data file of "._.." would be the parent folder.
        if (!name.starts_with("._") || name == "._" || name == "._..")
            continue;
        const URL dataFile = directory.appendingPathComponent(name.substr(2));
        if (canRemoveAppleDoubleFile(dataFile, keepSecurityData, keepTags, keepAliasData, keepColorLabels,
                                     keepCustomIcons, neverDeleteExtensions, neverDeleteTypes)
            == CanRemoveAppleDoubleFileResult::remove)
            removable.push_back(URL::fileURLWithPath(path));
        else
            result = CanRemoveAppleDoubleFileResult::keep;
    }
    for (const URL &appleDouble : removable)
        deleteFile(appleDouble);
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
    if (const std::optional<std::string> quotedType = NSHFSTypeOfFile(fileURL.path())) {
        std::string type = *quotedType;
        std::erase(type, '\'');
        if (!type.empty() && neverDeleteTypes.find(type) != std::string::npos)
            return CanRemoveAppleDoubleFileResult::keep;
    }

    bool keepFinderInfo = customIcons || tags;
    if (!keepFinderInfo && (aliasData || colorLabels)) {
        const std::optional<FinderInfo> finderInfo = FinderInfo::ofItem(fileURL.path());
        if (aliasData && finderInfo && finderInfo->isAlias())
            keepFinderInfo = true;
        // A label that cannot be had because the data file is missing counts as a label.
        if (colorLabels && (!fileURL.isReachable() || (finderInfo && finderInfo->colorLabel() != 0)))
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

    std::vector<std::string> names;
    try {
        names = listExtendedAttributes(fileURL.path());
    } catch (const Error &) {
        return StripUnwantedAttrsResult::keep;
    }
    const std::optional<StatisticsManager::DeletionInformation> information =
        StatisticsManager::DeletionInformation::forItem(fileURL);
    const URL companion = fileURL.deletingLastPathComponent().appendingPathComponent("._" + fileURL.lastPathComponent());
    const bool companionWasThere = companion.isReachable();

    std::vector<std::string> removed;
    for (const std::string &name : names) {
        if (std::find(kept.begin(), kept.end(), name) != kept.end())
            continue;
        if (m_isASimulation) {
            SystemLog::write(std::string(simulationPrefix) + "remove " + name + " from: " + fileURL.path() + ".");
            removed.push_back(name);
            continue;
        }
        try {
            removeExtendedAttribute(fileURL.path(), name);
            removed.push_back(name);
        } catch (const Error &) {
        }
    }
    const bool everythingGoes = removed.size() == names.size();
    // A simulation that would empty the companion leaves its report to the simulated deletion
    // of the "._" file that follows.
    const bool reportRemovals = !removed.empty() && !(m_isASimulation && everythingGoes);
    if (reportRemovals) {
        if (const std::shared_ptr<XProgressProtocol> current = progress()) {
            if (!companionWasThere || companion.isReachable()) {
                for (const std::string &name : removed)
                    current->deletionMessageForContent(name, companion, std::nullopt);
            } else {
                current->incrementNumberOfItemsDeleted();
                current->deletionMessageForURL(companion, std::nullopt);
            }
        }
        statistics().deletedItem(information);
    }
    return everythingGoes ? StripUnwantedAttrsResult::remove : StripUnwantedAttrsResult::keep;
}
