#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Value.h"

// One switchable cleaning option of a record: a kind of metadata to delete, a keep flag,
// or a black-listed name. An immutable value: the with… members make changed copies.
class XFSDetailsFlagItem
{
public:
    enum class ItemType {
        legacyFileType = 0,
        legacyRootFolderItemType = 1,
        userOption = 2,
        fileToDelete = 3,
        folderToDelete = 4,
        blacklist = 5,
    };

    enum class SortGroups {
        apple = 0,
        windows = 1,
        blacklist = 1000,
        unknown = 10000,
    };

    XFSDetailsFlagItem(bool enabled, ItemType type, bool editable, bool builtin, std::string displayName,
                       std::string uniqueKey, std::string fsName, SortGroups sortGroup);

    // Reads the stored form; nullopt (with one system-log line) when a required key is
    // missing or of another type, or "type" is unknown. The item read is always editable.
    static std::optional<XFSDetailsFlagItem> fromDictionary(const Dictionary &dictionary);
    // The application's default option list, read afresh from the bundle's "defaults" list.
    static std::vector<XFSDetailsFlagItem> defaultsFlags();

    Dictionary toDictionary() const;

    bool enabled() const { return m_enabled; }
    ItemType type() const { return m_type; }
    bool editable() const { return m_editable; }
    bool builtin() const { return m_builtin; }
    const std::string &displayName() const { return m_displayName; }
    const std::string &uniqueKey() const { return m_uniqueKey; }
    const std::string &fsName() const { return m_fsName; }
    SortGroups sortGroup() const { return m_sortGroup; }

    XFSDetailsFlagItem withEnabled(bool enabled) const;
    XFSDetailsFlagItem withEditable(bool editable) const;
    XFSDetailsFlagItem withType(ItemType type) const;
    XFSDetailsFlagItem withDisplayName(std::string displayName) const;
    XFSDetailsFlagItem withNames(const std::string &name) const;

    // Items are the same option when their unique keys are equal.
    bool operator==(const XFSDetailsFlagItem &other) const { return m_uniqueKey == other.m_uniqueKey; }

private:
    static std::optional<Array> defaultsFlagsRaw();

    bool m_enabled;
    ItemType m_type;
    bool m_editable;
    bool m_builtin;
    std::string m_displayName;
    std::string m_uniqueKey;
    std::string m_fsName;
    SortGroups m_sortGroup;
};
