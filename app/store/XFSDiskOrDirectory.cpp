#include "XFSDiskOrDirectory.h"

#include <QIcon>

#include <algorithm>

#include "Bundle.h"
#include "DictionaryValue.h"
#include "ErrorDescription.h"
#include "FolderAndName.h"
#include "Md5.h"
#include "PhysicalPath.h"
#include "SystemLog.h"
#include "TWFileManager.h"
#include "TWVolumeInfo.h"
#include "XFSDetailsFlagItemKeys.h"

namespace
{
XFSDetailsFlagItem disabledAndHidden(const XFSDetailsFlagItem &item)
{
    return item.withEnabled(false).withEditable(false);
}

XFSDetailsFlagItem enabledAndShown(const XFSDetailsFlagItem &item)
{
    return item.withEnabled(true).withEditable(true);
}

XFSDetailsFlagItem asFolderToDelete(const XFSDetailsFlagItem &item)
{
    return item.withType(XFSDetailsFlagItem::ItemType::folderToDelete);
}

XFSDetailsFlagItem newBlackListItem(const std::string &name)
{
    return XFSDetailsFlagItem(false, XFSDetailsFlagItem::ItemType::blacklist, true, false, name, md5(name), name,
                              XFSDetailsFlagItem::SortGroups::blacklist);
}

bool isBlackListItem(const XFSDetailsFlagItem &item)
{
    return item.type() == XFSDetailsFlagItem::ItemType::blacklist;
}

bool hasBlackListItemNamed(const std::vector<XFSDetailsFlagItem> &items, const std::string &name)
{
    return std::any_of(items.begin(), items.end(), [&name](const XFSDetailsFlagItem &item) {
        return isBlackListItem(item) && item.fsName() == name;
    });
}

XFSDiskOrDirectory::CleanMode cleanModeFor(std::int64_t raw)
{
    switch (raw) {
    case 0:
        return XFSDiskOrDirectory::CleanMode::ignore;
    case 1:
        return XFSDiskOrDirectory::CleanMode::askToClean;
    default:
        return XFSDiskOrDirectory::CleanMode::alwaysClean;
    }
}

// An image of the bundle; a null icon when the bundle lacks it.
QIcon bundleImage(const char *name)
{
    const std::optional<std::string> path = Bundle::main().pathForResource(name, "png");
    return path ? QIcon(QString::fromStdString(*path)) : QIcon();
}

// The root's last component is the root itself.
std::string lastPathComponent(const std::string &path)
{
    const std::string_view trimmed = FolderAndName::trimmed(path);
    return trimmed == "/" ? "/" : FolderAndName::nameOf(trimmed);
}
}

XFSDiskOrDirectory::XFSDiskOrDirectory(const std::string &path, CleanMode cleanMode)
    : m_hasNativeAttrsAndResForks(TWFileManager::isHFSVolume(path))
    , m_path(path)
    , m_uniqueDiskKey(TWKeyForDisk(path))
    , m_mode(cleanMode)
{
    // Stored data: the path, a hyphen, the disk key and a closing parenthesis without an opening one.
    m_storageKey = path + "-" + m_uniqueDiskKey + ")";
    initCommon();
}

XFSDiskOrDirectory::XFSDiskOrDirectory(const std::string &storageKey)
    : m_storageKey(storageKey)
    , m_uniqueDiskKey(storageKey)
    , m_displayName(storageKey == disksStorageKey ? "Non Mac Disks" : "Network Disks")
    , m_mode(CleanMode::ignore)
    , m_server(storageKey != disksStorageKey)
{
    initCommon();
}

std::optional<XFSDiskOrDirectory> XFSDiskOrDirectory::fromDictionary(const std::string &storageKey,
                                                                     const Dictionary &dictionary)
{
    XFSDiskOrDirectory record;
    record.m_storageKey = storageKey;
    try {
        record.m_displayName = valueForKey<std::string>("displayName", dictionary, "");
        record.m_onlyDeleteFoldersOnManualClean =
            valueForKey<bool>("onlyDeleteFoldersOnManualClean", dictionary, false);
        record.m_hasNativeAttrsAndResForks = valueForKey<bool>("hasNativeAttrsAndResForks", dictionary);
        record.m_uniqueDiskKey = valueForKey<std::string>("uniqueKey", dictionary);
        record.m_appleFS = valueForKey<bool>("isMacDisk", dictionary);
        record.m_fsType = valueForKey<std::string>("fsTypeName", dictionary, "");
        record.m_path = valueForKey<std::string>("fspath", dictionary, "");
        record.m_server = valueForKey<bool>("isFileServer", dictionary);
        record.m_mode = cleanModeFor(valueForKey<std::int64_t>("mode", dictionary));
    } catch (const Error &error) {
        SystemLog::write(errorDescription(error));
        return std::nullopt;
    }

    // A stray element that is no dictionary costs only itself, not the user's other options.
    const auto items = dictionary.find("detailsItems");
    if (items != dictionary.end() && items->second.asArray()) {
        for (const Value &element : *items->second.asArray()) {
            const Dictionary *itemDictionary = element.asDictionary();
            if (!itemDictionary)
                continue;
            if (std::optional<XFSDetailsFlagItem> item = XFSDetailsFlagItem::fromDictionary(*itemDictionary))
                record.m_detailsFlags.push_back(std::move(*item));
        }
    }
    record.initCommon();
    return record;
}

XFSDiskOrDirectory XFSDiskOrDirectory::copyWithNewCleanMode(CleanMode mode) const
{
    XFSDiskOrDirectory copy = *this;
    copy.m_mode = mode;
    return copy;
}

Dictionary XFSDiskOrDirectory::toDictionary() const
{
    Array items;
    items.reserve(m_detailsFlags.size());
    for (const XFSDetailsFlagItem &item : m_detailsFlags)
        items.emplace_back(item.toDictionary());
    return Dictionary{
        {"uniqueKey", Value(m_uniqueDiskKey)},
        {"displayName", Value(displayName())},
        {"fspath", Value(m_path)},
        {"hasNativeAttrsAndResForks", Value(m_hasNativeAttrsAndResForks)},
        {"fsTypeName", Value(m_fsType)},
        {"isFileServer", Value(m_server)},
        {"isMacDisk", Value(m_appleFS)},
        {"onlyDeleteFoldersOnManualClean", Value(m_onlyDeleteFoldersOnManualClean)},
        {"builtin", Value(builtin())},
        {"mode", Value(static_cast<int>(m_mode))},
        {"detailsItems", Value(std::move(items))},
    };
}

void XFSDiskOrDirectory::initCommon()
{
    const std::vector<XFSDetailsFlagItem> defaults = XFSDetailsFlagItem::defaultsFlags();
    for (const XFSDetailsFlagItem &item : defaults) {
        if (std::find(m_detailsFlags.begin(), m_detailsFlags.end(), item) == m_detailsFlags.end())
            m_detailsFlags.push_back(item);
    }
    for (const XFSDetailsFlagItem &item : defaults) {
        const std::optional<XFSDetailsFlagItem> stored = findFlag(item.uniqueKey());
        if (stored && stored->displayName() != item.displayName())
            updateFlags({stored->withDisplayName(item.displayName())});
    }
    m_resolvedPath = m_path.empty() ? m_path : physicalPath(m_path).value_or(m_path);
    if (!m_path.empty()) {
        m_url = URL::fileURLWithPath(m_path);
        if (const std::optional<std::string> name = m_url->value<std::string>(URLValues::localizedNameKey))
            m_displayName = *name;
    }
    update();
}

bool XFSDiskOrDirectory::hasPath(const std::string &path) const
{
    const std::string_view trimmed = FolderAndName::trimmed(path);
    return !m_path.empty() && (trimmed == FolderAndName::trimmed(m_path) || trimmed == FolderAndName::trimmed(m_resolvedPath));
}

void XFSDiskOrDirectory::replaceFlag(const std::string &uniqueKey,
                                     XFSDetailsFlagItem (*change)(const XFSDetailsFlagItem &))
{
    if (const std::optional<XFSDetailsFlagItem> item = findFlag(uniqueKey))
        updateFlags({change(*item)});
}

void XFSDiskOrDirectory::update()
{
    replaceFlag(rawValue(XFSDetailsFlagItemKeys::blacklisted), disabledAndHidden);
    replaceFlag(rawValue(XFSDetailsFlagItemKeys::Xattrs), disabledAndHidden);
    fixPreV7TypeIds();
    if (m_uniqueDiskKey == serversStorageKey)
        hideRootFolderItemFlags();

    if (!m_url || !m_url->isReachable() || TWKeyForDisk(m_path) != m_uniqueDiskKey)
        return;

    TWVolumeInfo info;
    CFUGetVolumeInfo(m_path, &info);
    if (m_fsType.empty() && !info.statInfo().fileSystemType.empty())
        m_fsType = info.statInfo().fileSystemType;
    m_server = info.isServer();
    if (info.isMacDisk()) {
        m_appleFS = true;
        replaceFlag(rawValue(XFSDetailsFlagItemKeys::Xattrs), enabledAndShown);
    } else if (!m_server) {
        return;
    } else if (m_fsType == "afpfs") {
        m_appleFS = true;
    }
    if (m_server)
        hideRootFolderItemFlags();
}

void XFSDiskOrDirectory::fixPreV7TypeIds()
{
    replaceFlag(rawValue(XFSDetailsFlagItemKeys::appledouble_netatalk), asFolderToDelete);
    replaceFlag(rawValue(XFSDetailsFlagItemKeys::eaDir_Synology), asFolderToDelete);
}

void XFSDiskOrDirectory::hideRootFolderItemFlags()
{
    for (XFSDetailsFlagItem &item : m_detailsFlags) {
        if (item.type() == XFSDetailsFlagItem::ItemType::legacyRootFolderItemType)
            item = disabledAndHidden(item);
    }
}

void XFSDiskOrDirectory::update(const std::vector<BlackListItem> &blackList)
{
    const auto entryFor = [&blackList](const std::string &uniqueKey) {
        return std::find_if(blackList.begin(), blackList.end(),
                            [&uniqueKey](const BlackListItem &entry) { return entry.uniqueKey == uniqueKey; });
    };

    std::erase_if(m_detailsFlags, [&](const XFSDetailsFlagItem &item) {
        return isBlackListItem(item) && entryFor(item.uniqueKey()) == blackList.end();
    });

    std::vector<XFSDetailsFlagItem> remaining;
    std::copy_if(m_detailsFlags.begin(), m_detailsFlags.end(), std::back_inserter(remaining), isBlackListItem);
    for (const XFSDetailsFlagItem &item : remaining) {
        const auto entry = entryFor(item.uniqueKey());
        std::erase(m_detailsFlags, item);
        m_detailsFlags.push_back(item.withNames(entry->name));
    }

    for (const BlackListItem &entry : blackList) {
        if (!hasBlackListItemNamed(m_detailsFlags, entry.name))
            m_detailsFlags.push_back(newBlackListItem(entry.name));
    }
}

void XFSDiskOrDirectory::mergeBlackListItems(const Array &from)
{
    for (const Value &element : from) {
        const Dictionary *dictionary = element.asDictionary();
        if (!dictionary)
            continue;
        const auto name = dictionary->find("name");
        if (name == dictionary->end() || !name->second.asString())
            continue;
        const std::string &fsName = *name->second.asString();
        if (!hasBlackListItemNamed(m_detailsFlags, fsName))
            m_detailsFlags.push_back(newBlackListItem(fsName));
    }
}

void XFSDiskOrDirectory::updateFlags(const std::vector<XFSDetailsFlagItem> &flags)
{
    for (const XFSDetailsFlagItem &flag : flags) {
        const auto found = std::find(m_detailsFlags.begin(), m_detailsFlags.end(), flag);
        if (found != m_detailsFlags.end())
            *found = flag;
        else
            m_detailsFlags.push_back(flag);
    }
}

std::optional<XFSDetailsFlagItem> XFSDiskOrDirectory::findFlag(const std::string &uniqueKey) const
{
    const auto found =
        std::find_if(m_detailsFlags.begin(), m_detailsFlags.end(),
                     [&uniqueKey](const XFSDetailsFlagItem &item) { return item.uniqueKey() == uniqueKey; });
    if (found == m_detailsFlags.end())
        return std::nullopt;
    return *found;
}

std::string XFSDiskOrDirectory::displayName() const
{
    if (!m_url)
        return m_displayName;
    if (const std::optional<std::string> name = m_url->value<std::string>(URLValues::localizedNameKey))
        return *name;
    if (TWFileManager::isPathToADisk(m_path))
        return TWVolumeDisplayName(m_path);
    return lastPathComponent(m_path);
}

XFSDiskOrDirectory::IconChoice XFSDiskOrDirectory::iconChoice() const
{
    if (m_uniqueDiskKey == serversStorageKey)
        return IconChoice::fileServer;
    if (m_uniqueDiskKey == disksStorageKey)
        return IconChoice::nonMacDisk;
    if (m_url && m_url->isReachable())
        return TWKeyForDisk(m_url->path()) == m_uniqueDiskKey ? IconChoice::itemIcon
                                                              : IconChoice::otherDiskMountedThere;
    return IconChoice::unknownItem;
}

QPixmap XFSDiskOrDirectory::icon24by24() const
{
    QIcon icon = QIcon::fromTheme(QStringLiteral("drive-harddisk"));
    QIcon better;
    switch (iconChoice()) {
    case IconChoice::unknownItem:
        break;
    case IconChoice::fileServer:
        better = QIcon::fromTheme(QStringLiteral("network-server"));
        break;
    case IconChoice::nonMacDisk:
        better = bundleImage("NonMacHDGeneric");
        break;
    case IconChoice::itemIcon:
        better = m_url->value<QIcon>(URLValues::effectiveIconKey).value_or(QIcon());
        break;
    case IconChoice::otherDiskMountedThere:
        better = bundleImage("NonMacHDGenericFoundButNotWrongKey");
        break;
    }
    if (!better.isNull())
        icon = better;
    return icon.pixmap(QSize(24, 24));
}

bool XFSDiskOrDirectory::builtin() const
{
    return m_storageKey == disksStorageKey || m_storageKey == serversStorageKey;
}

std::vector<XFSDetailsFlagItem> XFSDiskOrDirectory::flagsItemsForDisplay() const
{
    std::vector<XFSDetailsFlagItem> items;
    std::copy_if(m_detailsFlags.begin(), m_detailsFlags.end(), std::back_inserter(items),
                 [](const XFSDetailsFlagItem &item) { return item.editable(); });
    return items;
}

std::vector<XFSDetailsFlagItem> XFSDiskOrDirectory::dynamicFileItems() const
{
    std::vector<XFSDetailsFlagItem> items;
    std::copy_if(
        m_detailsFlags.begin(), m_detailsFlags.end(), std::back_inserter(items),
        [](const XFSDetailsFlagItem &item) { return item.type() == XFSDetailsFlagItem::ItemType::fileToDelete; });
    return items;
}

std::vector<XFSDetailsFlagItem> XFSDiskOrDirectory::dynamicFileItemsEnabled() const
{
    std::vector<XFSDetailsFlagItem> items = dynamicFileItems();
    std::erase_if(items, [](const XFSDetailsFlagItem &item) { return !item.enabled(); });
    return items;
}

std::vector<std::string> XFSDiskOrDirectory::blackListItemsEnabled() const
{
    std::vector<std::string> names;
    for (const XFSDetailsFlagItem &item : m_detailsFlags) {
        if (item.enabled() && isBlackListItem(item))
            names.push_back(item.fsName());
    }
    return names;
}
