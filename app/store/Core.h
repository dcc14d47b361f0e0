#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "NotificationCenter.h"
#include "URL.h"

class Pasteboard;

// The process-wide service that reacts to disks being mounted: it refreshes the writable
// volumes, asks once about each new non-Mac disk whether to keep it clean, re-opens access to
// the user's folders and cleans all volume roots a little later. It also serves the entry
// through which other applications hand over items to clean.
class Core : public std::enable_shared_from_this<Core>
{
public:
    static constexpr const char *askToCleanDiskBlockName = "askToCleanDisk";
    static constexpr const char *accessSecurityScopedSourceItemsBlockName = "accessSecurityScopedSourceItems";
    static constexpr const char *cleanAllVolumesBlockName = "cleanAllVolumes";

    // The delays in seconds of the three throttled blocks, and the keep-clean prompt's time-out.
    struct Timing
    {
        float askToCleanDiskDelay = 5;
        float accessSecurityScopedSourceItemsDelay = 3;
        float cleanAllVolumesDelay = 10;
        double promptTimeout = 60;
    };

    // Made and prepared on the first call, which is made on the main thread.
    static Core &sharedInstance();
    // An instance of its own, not yet prepared (tests); it stops observing mounts and drops its
    // pending throttled blocks when destroyed.
    static std::shared_ptr<Core> create(Timing timing);

    ~Core();
    Core(const Core &) = delete;
    Core &operator=(const Core &) = delete;

    void prepare();
    // Main thread: a did-mount notice, or none for the first scan at start-up.
    void deviceListChanged(const Notification *notification);
    void askToCleanDisk();
    // On a thread of its own: shows the prompt and waits for it.
    void askShouldCleanDiskThread();
    // Main thread: the prompt's response code.
    void finishAskShouldCleanDisk(int responseFlags);
    bool shouldAskToCleanDisk(const std::string &path) const;
    static std::vector<URL> buildRWVolumeURLList();

    // The entry for other applications; the user data and error are not used.
    void cleanItemService(const Pasteboard &pasteboard, const std::string &userData, std::string *error);
    void cleanService(const Pasteboard &pasteboard);

    std::vector<URL> localVolumeList() const;
    void setLocalVolumeList(std::vector<URL> volumes);
    std::vector<std::string> autoCleanQuestionDisks() const;
    void setAutoCleanQuestionDisks(std::vector<std::string> paths);
    std::vector<std::string> autoCleanQuestionDisksInProgress() const;
    void setAutoCleanQuestionDisksInProgress(std::vector<std::string> paths);

    // A volume is mounted at exactly this path.
    static bool isMountedVolume(const std::string &path);

private:
    explicit Core(Timing timing);
    // The header of the prompt for these disks, in order.
    static std::string promptHeader(const std::vector<std::string> &paths);
    void requestAskToCleanDisk();

    const Timing m_timing;
    mutable std::mutex m_mutex;
    std::vector<URL> m_localVolumeList;
    std::vector<std::string> m_autoCleanQuestionDisks;
    std::vector<std::string> m_autoCleanQuestionDisksInProgress;
    NotificationCenter::ObserverToken m_mountObserver;
};
