#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "BlackListItem.h"
#include "URL.h"
#include "XFSDiskOrDirectory.h"

// The process-wide home of every disk, server and folder record, kept in the user defaults
// under "preferences" / "sourceItems". Records change on the main thread only; any thread may
// read them: readers get an immutable snapshot that a change replaces, never alters.
class XTWStore : public std::enable_shared_from_this<XTWStore>
{
public:
    using BlackListItem = ::BlackListItem;
    using Records = std::vector<XFSDiskOrDirectory>;
    using CleanMode = XFSDiskOrDirectory::CleanMode;

    static constexpr const char *saveThrottleName = "XTWStore update";
    static constexpr float saveThrottleDelay = 0.25f;

    // The single instance, made and loaded on first use.
    static XTWStore &shared();
    // A store loaded from the standard user defaults. The application uses shared(); a store
    // of its own serves where one must start from a known file (tests).
    static std::shared_ptr<XTWStore> create();

    XTWStore(const XTWStore &) = delete;
    XTWStore &operator=(const XTWStore &) = delete;

    bool enabled() const { return true; }

    XFSDiskOrDirectory detailsForDisks() const;
    XFSDiskOrDirectory detailsForServers() const;
    // "disks", then "servers".
    Records builtInDisksOrDirectories() const;
    Records userSuppliedDisksOrDirectories() const;
    std::optional<XFSDiskOrDirectory> diskOrDirectoryDetailsForKey(const std::string &storageKey) const;
    bool needsToKeepRunning() const;

    void load();
    // Writes every record; false (with a system-log line) when the defaults could not be written,
    // in which case the file on disk keeps its former contents.
    bool save();
    // Replaces the record of the same storage key (or the built-in of its disk key) and schedules a save.
    void update(const XFSDiskOrDirectory &record);
    void remove(const XFSDiskOrDirectory &record);
    void disableAnyServerAndAnyDiskCleaning();

    // The record that governs the URL, or nullopt.
    std::optional<XFSDiskOrDirectory> detailsForURL(const URL &url, bool canPickDetailsFromDefaults,
                                                    bool returnNilIfShouldntClean) const;
    // Adds a record for the path; false (with a beep) when one of that storage key exists.
    bool addDetailsForVolumeAtPath(const std::string &path, CleanMode mode);

    // The black-list entries of every record of the shared store (the first of a key wins).
    static std::vector<BlackListItem> allBlackListItems();
    // The same for this store.
    std::vector<BlackListItem> blackListItems() const;
    static std::vector<std::string> whiteList();
    static std::string neverDeleteFileExtensions();
    static std::string neverDeleteMacOSTypes();

    void mergeBlackListIntoAllDetailsOnce();
    void updateNeverDeleteItemsForNewPrefsFormat();

    // The user-defaults key of a record's own access grant is this prefix and its storage key.
    static constexpr const char *bookmarkKeyPrefix = "bookmark-";

    // Stops every access opened by the previous run, then opens the grants of the records
    // kept always clean on the mounted writable volumes. Main thread.
    void accessSecurityScopedSourceItems();
    // True when the start-up disk's grant is in force; a grant that no longer works is
    // forgotten. With askIfMissing the user is asked to give one. Main thread.
    static bool resolveSecurityBookmark(bool askIfMissing);
    // The check at start-up, for the shared store. Main thread.
    static void resolveSecurityBookmarkAtStartup();
    // The same check for this store: Option held forgets the grant; without one the two
    // built-in records clean nothing (in memory, saved by the next save).
    void resolveSecurityBookmarkAtStartupForThisStore();
    // The URLs whose access accessSecurityScopedSourceItems opened and has not yet stopped.
    std::vector<URL> activeScopedURLs() const;

private:
    struct State
    {
        Records details;
        std::optional<XFSDiskOrDirectory> detailsForDisks;
        std::optional<XFSDiskOrDirectory> detailsForServers;
    };

    XTWStore() = default;

    std::shared_ptr<const State> snapshot() const;
    void replaceState(State state);
    static Records allRecords(const State &state);
    void scheduleSave();

    mutable std::mutex m_stateMutex;
    mutable std::mutex m_scopedURLsMutex;
    std::vector<URL> m_activeScopedURLs;
    std::shared_ptr<const State> m_state = std::make_shared<State>();
};
