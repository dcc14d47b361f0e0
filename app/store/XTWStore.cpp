#include "XTWStore.h"

#include <QString>

#include <algorithm>
#include <set>

#include "Alert.h"
#include "Beep.h"
#include "Error.h"
#include "GCDAdditions.h"
#include "ModifierKeys.h"
#include "PhysicalPath.h"
#include "PreferencesSupport.h"
#include "SecurityScopedBookmark.h"
#include "SelectStartupDisk.h"
#include "SystemLog.h"
#include "TWFileManager.h"
#include "TWVolumeInfo.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "VolumeList.h"
#include "XEngine.h"

namespace
{
constexpr const char *preferencesKey = "preferences";
constexpr const char *sourceItemsKey = "sourceItems";

// Lower-cased by Unicode's rules, ending in "/", so that a folder never matches a sibling
// whose name merely begins with its own.
std::string normalisedPath(const std::string &path)
{
    std::string lowered = QString::fromStdString(path).toLower().toStdString();
    if (!lowered.ends_with('/'))
        lowered.push_back('/');
    return lowered;
}

std::optional<XFSDiskOrDirectory> findWithDiskKey(const std::string &diskKey, const XTWStore::Records &records)
{
    const auto found = std::find_if(records.begin(), records.end(), [&diskKey](const XFSDiskOrDirectory &record) {
        return record.uniqueDiskKey() == diskKey;
    });
    if (found == records.end())
        return std::nullopt;
    return *found;
}

// The built-in of that disk key taken out of the loaded records, or made afresh.
XFSDiskOrDirectory takeBuiltIn(const std::string &diskKey, XTWStore::Records &details)
{
    const std::optional<XFSDiskOrDirectory> found = findWithDiskKey(diskKey, details);
    if (!found)
        return XFSDiskOrDirectory(diskKey);
    std::erase(details, *found);
    return *found;
}

const Value *entry(const Dictionary &dictionary, const std::string &key)
{
    const auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : &found->second;
}

Array arrayInPreferences(const char *key)
{
    const std::optional<Dictionary> preferences = TarnwickStore::generalPreferences();
    const Value *array = preferences ? entry(*preferences, key) : nullptr;
    return array && array->asArray() ? *array->asArray() : Array();
}
}

XTWStore &XTWStore::shared()
{
    // Never destroyed: a save still queued at exit finds it alive.
    static const std::shared_ptr<XTWStore> *instance = new std::shared_ptr<XTWStore>(create());
    return **instance;
}

std::shared_ptr<XTWStore> XTWStore::create()
{
    std::shared_ptr<XTWStore> store(new XTWStore);
    store->load();
    return store;
}

std::shared_ptr<const XTWStore::State> XTWStore::snapshot() const
{
    std::lock_guard lock(m_stateMutex);
    return m_state;
}

void XTWStore::replaceState(State state)
{
    auto replacement = std::make_shared<const State>(std::move(state));
    std::lock_guard lock(m_stateMutex);
    m_state = std::move(replacement);
}

XTWStore::Records XTWStore::allRecords(const State &state)
{
    Records records;
    records.reserve(state.details.size() + 2);
    if (state.detailsForDisks)
        records.push_back(*state.detailsForDisks);
    if (state.detailsForServers)
        records.push_back(*state.detailsForServers);
    records.insert(records.end(), state.details.begin(), state.details.end());
    return records;
}

XFSDiskOrDirectory XTWStore::detailsForDisks() const
{
    return *snapshot()->detailsForDisks;
}

XFSDiskOrDirectory XTWStore::detailsForServers() const
{
    return *snapshot()->detailsForServers;
}

XTWStore::Records XTWStore::builtInDisksOrDirectories() const
{
    const std::shared_ptr<const State> state = snapshot();
    return {*state->detailsForDisks, *state->detailsForServers};
}

XTWStore::Records XTWStore::userSuppliedDisksOrDirectories() const
{
    return snapshot()->details;
}

std::optional<XFSDiskOrDirectory> XTWStore::diskOrDirectoryDetailsForKey(const std::string &storageKey) const
{
    for (const XFSDiskOrDirectory &record : allRecords(*snapshot())) {
        if (record.storageKey() == storageKey)
            return record;
    }
    return std::nullopt;
}

bool XTWStore::needsToKeepRunning() const
{
    for (const XFSDiskOrDirectory &record : allRecords(*snapshot())) {
        if (record.mode() == CleanMode::askToClean || record.mode() == CleanMode::alwaysClean)
            return true;
    }
    return PreferencesSupport::standardUserDefaults().boolForKey("scheduledCleaningEnabled");
}

void XTWStore::load()
{
    updateNeverDeleteItemsForNewPrefsFormat();

    State state;
    const std::optional<Dictionary> preferences =
        PreferencesSupport::standardUserDefaults().dictionaryForKey(preferencesKey);
    const Value *sourceItems = preferences ? entry(*preferences, sourceItemsKey) : nullptr;
    if (sourceItems && sourceItems->asDictionary()) {
        for (const auto &[storageKey, value] : *sourceItems->asDictionary()) {
            const Dictionary *dictionary = value.asDictionary();
            if (!dictionary)
                continue;
            std::optional<XFSDiskOrDirectory> record = XFSDiskOrDirectory::fromDictionary(storageKey, *dictionary);
            if (!record) {
                SystemLog::write("Bad details with storage key: " + storageKey);
                continue;
            }
            state.details.push_back(std::move(*record));
        }
    }
    state.detailsForDisks = takeBuiltIn(XFSDiskOrDirectory::disksStorageKey, state.details);
    state.detailsForServers = takeBuiltIn(XFSDiskOrDirectory::serversStorageKey, state.details);
    replaceState(std::move(state));

    mergeBlackListIntoAllDetailsOnce();
}

bool XTWStore::save()
{
    Dictionary items;
    for (const XFSDiskOrDirectory &record : allRecords(*snapshot()))
        items.insert_or_assign(record.storageKey(), Value(record.toDictionary()));

    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    Dictionary preferences = defaults.dictionaryForKey(preferencesKey).value_or(Dictionary());
    preferences.insert_or_assign(sourceItemsKey, Value(std::move(items)));
    try {
        defaults.setObject(Value(std::move(preferences)), preferencesKey);
    } catch (const Error &error) {
        SystemLog::write("The disk and folder settings could not be saved: " + error.localizedDescription());
        return false;
    }
    if (!defaults.synchronize()) {
        SystemLog::write("The disk and folder settings could not be written to " + defaults.filePath()
                         + "; the file keeps the settings saved before.");
        return false;
    }
    return true;
}

void XTWStore::update(const XFSDiskOrDirectory &record)
{
    State state = *snapshot();
    const auto found = std::find(state.details.begin(), state.details.end(), record);
    if (found != state.details.end())
        *found = record;
    if (record.uniqueDiskKey() == XFSDiskOrDirectory::disksStorageKey)
        state.detailsForDisks = record;
    else if (record.uniqueDiskKey() == XFSDiskOrDirectory::serversStorageKey)
        state.detailsForServers = record;
    replaceState(std::move(state));
    scheduleSave();
}

void XTWStore::scheduleSave()
{
    const std::weak_ptr<XTWStore> weakStore = weak_from_this();
    GCDAdditions::cancelPreviousThenPerformBlockWithName(saveThrottleName, saveThrottleDelay, [weakStore] {
        if (const std::shared_ptr<XTWStore> store = weakStore.lock())
            store->save();
    });
}

void XTWStore::remove(const XFSDiskOrDirectory &record)
{
    State state = *snapshot();
    const auto found = std::find(state.details.begin(), state.details.end(), record);
    if (found == state.details.end())
        return;
    state.details.erase(found);
    replaceState(std::move(state));
}

void XTWStore::disableAnyServerAndAnyDiskCleaning()
{
    State state = *snapshot();
    state.detailsForDisks->setMode(CleanMode::ignore);
    state.detailsForServers->setMode(CleanMode::ignore);
    replaceState(std::move(state));
}

std::optional<XFSDiskOrDirectory> XTWStore::detailsForURL(const URL &url, bool canPickDetailsFromDefaults,
                                                          bool returnNilIfShouldntClean) const
{
    std::optional<TWVolumeInfo> ignoredInfo;
    if (XEngine::shouldIgnoreVolume(url, ignoredInfo))
        return std::nullopt;

    const std::shared_ptr<const State> state = snapshot();
    const std::string diskKey = TWKeyForDisk(url.path());
    const std::string path = normalisedPath(url.path());

    // A record is matched by its path as stored and as resolved: a folder chosen through a link
    // or ".." is reached by its real path.
    const auto recordPaths = [](const XFSDiskOrDirectory &record) {
        std::vector<std::string> paths{normalisedPath(record.path())};
        if (record.resolvedPath() != record.path())
            paths.push_back(normalisedPath(record.resolvedPath()));
        return paths;
    };
    std::optional<XFSDiskOrDirectory> result;
    for (const XFSDiskOrDirectory &record : state->details) {
        if (record.uniqueDiskKey() != diskKey)
            continue;
        for (const std::string &recordPath : recordPaths(record)) {
            if (recordPath == path)
                result = record;
        }
    }
    if (!result) {
        std::size_t longest = 0;
        for (const XFSDiskOrDirectory &record : state->details) {
            if (record.uniqueDiskKey() != diskKey)
                continue;
            for (const std::string &recordPath : recordPaths(record)) {
                if (path.starts_with(recordPath) && recordPath.size() > longest) {
                    longest = recordPath.size();
                    result = record;
                }
            }
        }
    }
    if (!result && canPickDetailsFromDefaults) {
        TWVolumeInfo info;
        if (CFUGetVolumeInfo(url.path(), &info) == 0) {
            if (info.isServer())
                result = state->detailsForServers;
            else if (!info.isMacDisk())
                result = state->detailsForDisks;
        }
    }
    if (result && returnNilIfShouldntClean && result->mode() != CleanMode::alwaysClean)
        return std::nullopt;
    return result;
}

bool XTWStore::addDetailsForVolumeAtPath(const std::string &path, CleanMode mode)
{
    // The folder as the kernel names it: a folder chosen through a link or ".." is kept by its
    // real path, which is what every clean reaches and compares.
    XFSDiskOrDirectory record(physicalPath(path).value_or(path), mode);
    record.update(blackListItems());

    State state = *snapshot();
    if (std::find(state.details.begin(), state.details.end(), record) != state.details.end()) {
        Beep::play();
        return false;
    }
    state.details.push_back(record);
    replaceState(std::move(state));
    save();
    TarnwickStore::sharedInstance().broadcastChanges(record.storageKey());
    return true;
}

std::vector<XTWStore::BlackListItem> XTWStore::allBlackListItems()
{
    return shared().blackListItems();
}

std::vector<XTWStore::BlackListItem> XTWStore::blackListItems() const
{
    std::vector<BlackListItem> items;
    std::set<std::string> seen;
    for (const XFSDiskOrDirectory &record : allRecords(*snapshot())) {
        for (const XFSDetailsFlagItem &item : record.detailsFlags()) {
            if (item.type() == XFSDetailsFlagItem::ItemType::blacklist && seen.insert(item.uniqueKey()).second)
                items.push_back(BlackListItem{item.uniqueKey(), item.fsName()});
        }
    }
    return items;
}

std::vector<std::string> XTWStore::whiteList()
{
    std::vector<std::string> paths;
    for (const Value &element : arrayInPreferences("whitelistFolders")) {
        const Dictionary *dictionary = element.asDictionary();
        if (!dictionary)
            continue;
        const Value *path = entry(*dictionary, "path");
        if (path && path->asString())
            paths.push_back(*path->asString());
    }
    return paths;
}

std::string XTWStore::neverDeleteFileExtensions()
{
    return PreferencesSupport::standardUserDefaults().stringForKey("neverDeleteFileExtensions").value_or("");
}

std::string XTWStore::neverDeleteMacOSTypes()
{
    return PreferencesSupport::standardUserDefaults().stringForKey("neverDeleteMacOSTypes").value_or("");
}

void XTWStore::mergeBlackListIntoAllDetailsOnce()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (defaults.boolForKey("mergeBlackListIntoAllDetailsOnce"))
        return;

    Array list;
    for (const Value &element : arrayInPreferences("blacklistFolders")) {
        if (element.asDictionary())
            list.push_back(element);
    }

    State state = *snapshot();
    state.detailsForDisks->mergeBlackListItems(list);
    state.detailsForServers->mergeBlackListItems(list);
    for (XFSDiskOrDirectory &record : state.details)
        record.mergeBlackListItems(list);
    replaceState(std::move(state));

    // The migration counts as done only once its result is on disk; otherwise it runs again
    // at the next launch rather than losing the old black list.
    if (save())
        defaults.setObject(Value(true), "mergeBlackListIntoAllDetailsOnce");
}

void XTWStore::updateNeverDeleteItemsForNewPrefsFormat()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (defaults.boolForKey("updatedNeverDeleteItemsForNewPrefsFormat"))
        return;
    if (const std::optional<Dictionary> preferences = defaults.dictionaryForKey(preferencesKey)) {
        for (const char *key : {"neverDeleteFileExtensions", "neverDeleteMacOSTypes"}) {
            const Value *list = entry(*preferences, key);
            if (list && list->asString() && !list->asString()->empty())
                defaults.setObject(*list, key);
        }
    }
    defaults.setObject(Value(true), "updatedNeverDeleteItemsForNewPrefsFormat");
}

void XTWStore::accessSecurityScopedSourceItems()
{
    std::vector<URL> previous;
    {
        std::lock_guard lock(m_scopedURLsMutex);
        previous.swap(m_activeScopedURLs);
    }
    for (const URL &url : previous)
        SecurityScopedBookmark::stopAccessing(url.path());

    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    const std::shared_ptr<const State> state = snapshot();
    std::vector<URL> opened;
    for (const URL &volume : VolumeList::buildRWVolumeURLList()) {
        // Always appended: the root volume gives "//", which no record path begins with, so
        // records on the start-up disk are left to its own grant.
        const std::string volumePath = QString::fromStdString(volume.path()).toLower().toStdString() + "/";
        for (const XFSDiskOrDirectory &record : state->details) {
            if (record.mode() != CleanMode::alwaysClean || !normalisedPath(record.path()).starts_with(volumePath))
                continue;
            const std::optional<Value> bookmark = defaults.objectForKey(bookmarkKeyPrefix + record.storageKey());
            if (!bookmark || !bookmark->asData())
                continue;
            std::string path;
            try {
                path = SecurityScopedBookmark::resolve(*bookmark->asData(),
                                                       SecurityScopedBookmark::scopedResolutionOptions);
            } catch (const Error &) {
                continue;
            }
            if (SecurityScopedBookmark::startAccessing(path))
                opened.push_back(URL::fileURLWithPath(path));
        }
    }
    std::lock_guard lock(m_scopedURLsMutex);
    m_activeScopedURLs = std::move(opened);
}

bool XTWStore::resolveSecurityBookmark(bool askIfMissing)
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    const std::optional<Value> stored = defaults.objectForKey(SelectStartupDisk::rootBookmarkKey);
    if (stored && stored->asData()) {
        try {
            // The access stays open for the life of the process.
            const std::string path = SecurityScopedBookmark::resolve(*stored->asData(),
                                                                     SecurityScopedBookmark::scopedResolutionOptions);
            if (SecurityScopedBookmark::startAccessing(path))
                return true;
        } catch (const Error &) {
        }
        defaults.removeObjectForKey(SelectStartupDisk::rootBookmarkKey);
    }
    if (!askIfMissing)
        return false;

    const std::optional<std::string> diskName = TWFileManager::startupDiskDisplayNameIfPossible();
    const std::string message = diskName && !diskName->empty() ? "Please choose the disk named " + *diskName
                                                               : std::string("Please choose your startup disk.");
    Alert alert = Alert::alert(message, "Choose...", std::string("Cancel"), std::nullopt,
                               std::string("To grant Tarnwick permission to keep any local or network disk clean "
                                           "you'll need to choose your computer's startup disk.\nIf you do not wish to "
                                           "do this you can add individual disks to clean by click the + button in "
                                           "the preferences window."));
    if (alert.runModal() != Alert::firstButtonReturn)
        return false;
    // A grant stored here is opened by the next resolution.
    SelectStartupDisk selector;
    return selector.selectStartupDiskAndStoreBookmark();
}

void XTWStore::resolveSecurityBookmarkAtStartup()
{
    shared().resolveSecurityBookmarkAtStartupForThisStore();
}

void XTWStore::resolveSecurityBookmarkAtStartupForThisStore()
{
    // Option held lets the user give the grant afresh.
    if (IsOptionKeyDown())
        PreferencesSupport::standardUserDefaults().removeObjectForKey(SelectStartupDisk::rootBookmarkKey);
    if (resolveSecurityBookmark(false))
        return;
    // Without the start-up disk's grant the catch-all records clean nothing.
    disableAnyServerAndAnyDiskCleaning();
}

std::vector<URL> XTWStore::activeScopedURLs() const
{
    std::lock_guard lock(m_scopedURLsMutex);
    return m_activeScopedURLs;
}
