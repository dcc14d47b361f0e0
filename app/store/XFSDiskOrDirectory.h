#pragma once

#include <QPixmap>

#include <optional>
#include <string>
#include <vector>

#include "BlackListItem.h"
#include "URL.h"
#include "Value.h"
#include "XFSDetailsFlagItem.h"

// The cleaning settings of one user-chosen disk or folder, or of the catch-all "disks"
// (non-Mac local disks) or "servers" (network volumes). A value: copies are independent.
class XFSDiskOrDirectory
{
public:
    enum class CleanMode {
        ignore = 0,
        askToClean = 1,
        alwaysClean = 2,
    };

    // What the record's icon shows; the interface turns it into an image.
    enum class IconChoice {
        unknownItem,
        fileServer,
        nonMacDisk,
        itemIcon,
        otherDiskMountedThere,
    };

    static constexpr const char *disksStorageKey = "disks";
    static constexpr const char *serversStorageKey = "servers";

    // A new record for a user-chosen disk or folder.
    XFSDiskOrDirectory(const std::string &path, CleanMode cleanMode);
    // A catch-all record: "disks" or "servers".
    explicit XFSDiskOrDirectory(const std::string &storageKey);
    // A stored record; nullopt (with one system-log line) when the dictionary is unreadable.
    static std::optional<XFSDiskOrDirectory> fromDictionary(const std::string &storageKey,
                                                            const Dictionary &dictionary);

    XFSDiskOrDirectory copyWithNewCleanMode(CleanMode mode) const;
    Dictionary toDictionary() const;

    // Refreshes the volume facts when the record's disk is mounted and applies the option rules.
    void update();
    // Brings the black-list items in line with the list: unknown keys go, names follow, new names come.
    void update(const std::vector<BlackListItem> &blackList);
    // Adds items for the names of the older stored black list (dictionaries with a "name").
    void mergeBlackListItems(const Array &from);
    // Replaces items of the same key in place; appends the others.
    void updateFlags(const std::vector<XFSDetailsFlagItem> &flags);
    std::optional<XFSDetailsFlagItem> findFlag(const std::string &uniqueKey) const;

    bool hasNativeAttrsAndResForks() const { return m_hasNativeAttrsAndResForks; }
    bool onlyDeleteFoldersOnManualClean() const { return m_onlyDeleteFoldersOnManualClean; }
    const std::string &path() const { return m_path; }
    // The folder as the kernel names it, every link and ".." on the stored path resolved when
    // the record was made or read: what cleans open (following no link) and what paths are
    // compared with. The stored path where it cannot be resolved (a disk not mounted).
    const std::string &resolvedPath() const { return m_resolvedPath; }
    // Whether the path names this record's folder, as stored or as resolved.
    bool hasPath(const std::string &path) const;
    const std::string &storageKey() const { return m_storageKey; }
    const std::string &uniqueDiskKey() const { return m_uniqueDiskKey; }
    bool appleFS() const { return m_appleFS; }
    const std::string &fsType() const { return m_fsType; }
    CleanMode mode() const { return m_mode; }
    void setMode(CleanMode mode) { m_mode = mode; }
    bool server() const { return m_server; }
    const std::vector<XFSDetailsFlagItem> &detailsFlags() const { return m_detailsFlags; }
    const std::optional<URL> &url() const { return m_url; }

    std::string displayName() const;
    IconChoice iconChoice() const;
    // The icon of the choice at 24 by 24 points (the GUI application must exist).
    QPixmap icon24by24() const;
    bool builtin() const;
    std::vector<XFSDetailsFlagItem> flagsItemsForDisplay() const;
    std::vector<XFSDetailsFlagItem> dynamicFileItems() const;
    std::vector<XFSDetailsFlagItem> dynamicFileItemsEnabled() const;
    std::vector<std::string> blackListItemsEnabled() const;

    // Records are the same when their storage keys are equal.
    bool operator==(const XFSDiskOrDirectory &other) const { return m_storageKey == other.m_storageKey; }

private:
    XFSDiskOrDirectory() = default;

    void initCommon();
    void fixPreV7TypeIds();
    void hideRootFolderItemFlags();
    void replaceFlag(const std::string &uniqueKey, XFSDetailsFlagItem (*change)(const XFSDetailsFlagItem &));

    bool m_hasNativeAttrsAndResForks = false;
    bool m_onlyDeleteFoldersOnManualClean = false;
    std::string m_path;
    std::string m_resolvedPath;
    std::string m_storageKey;
    std::string m_uniqueDiskKey;
    std::string m_displayName;
    bool m_appleFS = false;
    std::string m_fsType;
    CleanMode m_mode = CleanMode::ignore;
    bool m_server = false;
    std::vector<XFSDetailsFlagItem> m_detailsFlags;
    std::optional<URL> m_url;
};
