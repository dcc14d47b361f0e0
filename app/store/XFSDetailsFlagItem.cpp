#include "XFSDetailsFlagItem.h"

#include <atomic>

#include "Bundle.h"
#include "Error.h"
#include "DictionaryValue.h"
#include "ErrorDescription.h"
#include "PropertyList.h"
#include "SystemLog.h"

namespace
{
constexpr const char *errorDomain = "XFSDetailsFlagItem";

XFSDetailsFlagItem::SortGroups sortGroupFor(std::int64_t group, const std::string &displayName)
{
    switch (group) {
    case 0:
        return XFSDetailsFlagItem::SortGroups::apple;
    case 1:
        return XFSDetailsFlagItem::SortGroups::windows;
    case 1000:
        return XFSDetailsFlagItem::SortGroups::blacklist;
    default:
        return displayName.find("Windows") != std::string::npos ? XFSDetailsFlagItem::SortGroups::windows
                                                                : XFSDetailsFlagItem::SortGroups::apple;
    }
}

// A packaging fault, reported once per run rather than for every record built.
void reportMissingDefaults(const std::string &why)
{
    static std::atomic<bool> reported = false;
    if (!reported.exchange(true))
        SystemLog::write("The default cleaning options cannot be read (" + why
                         + "); records get no default options. The installation is damaged.");
}
}

XFSDetailsFlagItem::XFSDetailsFlagItem(bool enabled, ItemType type, bool editable, bool builtin,
                                       std::string displayName, std::string uniqueKey, std::string fsName,
                                       SortGroups sortGroup)
    : m_enabled(enabled)
    , m_type(type)
    , m_editable(editable)
    , m_builtin(builtin)
    , m_displayName(std::move(displayName))
    , m_uniqueKey(std::move(uniqueKey))
    , m_fsName(std::move(fsName))
    , m_sortGroup(sortGroup)
{
}

std::optional<XFSDetailsFlagItem> XFSDetailsFlagItem::fromDictionary(const Dictionary &dictionary)
{
    try {
        const bool enabled = valueForKey<bool>("enabled", dictionary);
        std::string fsName = valueForKey<std::string>("fsname", dictionary);
        std::string uniqueKey = valueForKey<std::string>("uniqueKey", dictionary);
        const bool builtin = valueForKey<bool>("builtin", dictionary);
        std::string displayName = valueForKey<std::string>("displayName", dictionary);
        const std::int64_t type = valueForKey<std::int64_t>("type", dictionary);
        if (type < 0 || type > static_cast<std::int64_t>(ItemType::blacklist))
            throw Error(errorDomain, 1);

        const std::int64_t group = valueForKey<std::int64_t>("group", dictionary, 10000);
        const SortGroups sortGroup = sortGroupFor(group, displayName);
        return XFSDetailsFlagItem(enabled, static_cast<ItemType>(type), true, builtin, std::move(displayName),
                                  std::move(uniqueKey), std::move(fsName), sortGroup);
    } catch (const Error &error) {
        SystemLog::write(errorDescription(error));
        return std::nullopt;
    }
}

Dictionary XFSDetailsFlagItem::toDictionary() const
{
    return Dictionary{
        {"type", Value(static_cast<int>(m_type))},
        {"uniqueKey", Value(m_uniqueKey)},
        {"displayName", Value(m_displayName)},
        {"builtin", Value(m_builtin)},
        {"fsname", Value(m_fsName)},
        {"editable", Value(m_editable)},
        {"enabled", Value(m_enabled)},
        {"group", Value(static_cast<int>(m_sortGroup))},
    };
}

std::optional<Array> XFSDetailsFlagItem::defaultsFlagsRaw()
{
    const std::optional<std::string> path = Bundle::main().pathForResource("defaults", "plist");
    if (!path) {
        reportMissingDefaults("no \"defaults.plist\" in " + Bundle::main().resourcesPath());
        return std::nullopt;
    }
    try {
        const Value list = PropertyList::readFile(*path);
        if (const Dictionary *dictionary = list.asDictionary()) {
            const auto items = dictionary->find("detailsItems");
            if (items != dictionary->end() && items->second.asArray())
                return *items->second.asArray();
        }
        reportMissingDefaults(*path + " holds no \"detailsItems\" list");
        return std::nullopt;
    } catch (const Error &error) {
        reportMissingDefaults(*path + ": " + error.localizedDescription());
        return std::nullopt;
    }
}

std::vector<XFSDetailsFlagItem> XFSDetailsFlagItem::defaultsFlags()
{
    std::vector<XFSDetailsFlagItem> flags;
    const std::optional<Array> raw = defaultsFlagsRaw();
    if (!raw)
        return flags;
    for (const Value &element : *raw) {
        const Dictionary *dictionary = element.asDictionary();
        if (!dictionary) {
            reportMissingDefaults("an entry of \"detailsItems\" is no dictionary");
            continue;
        }
        if (std::optional<XFSDetailsFlagItem> item = fromDictionary(*dictionary))
            flags.push_back(std::move(*item));
    }
    return flags;
}

XFSDetailsFlagItem XFSDetailsFlagItem::withEnabled(bool enabled) const
{
    XFSDetailsFlagItem copy = *this;
    copy.m_enabled = enabled;
    return copy;
}

XFSDetailsFlagItem XFSDetailsFlagItem::withEditable(bool editable) const
{
    XFSDetailsFlagItem copy = *this;
    copy.m_editable = editable;
    return copy;
}

XFSDetailsFlagItem XFSDetailsFlagItem::withType(ItemType type) const
{
    XFSDetailsFlagItem copy = *this;
    copy.m_type = type;
    return copy;
}

XFSDetailsFlagItem XFSDetailsFlagItem::withDisplayName(std::string displayName) const
{
    XFSDetailsFlagItem copy = *this;
    copy.m_displayName = std::move(displayName);
    return copy;
}

XFSDetailsFlagItem XFSDetailsFlagItem::withNames(const std::string &name) const
{
    XFSDetailsFlagItem copy = *this;
    copy.m_displayName = name;
    copy.m_fsName = name;
    return copy;
}
