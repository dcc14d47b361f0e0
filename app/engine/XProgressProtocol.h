#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Error.h"
#include "MonotonicClock.h"
#include "URL.h"
#include "VolumesFolders.h"

// What a cleaning run tells its display: status, counters, the folder being
// visited, each deletion and its outcome, log lines, cancellation and the end.
// Implementations accept calls from any thread. Four requirements have shared
// defaults, which word the deletion messages and decide what reaches the log.
class XProgressProtocol
{
public:
    virtual ~XProgressProtocol();

    virtual void setRoot(const URL &root) = 0;
    virtual void progressFeedback(const std::string &message, bool flushMessage) = 0;
    virtual void displayCleaningProgressForFolder(const URL &folder) = 0;
    virtual void setProgressFeedbackIcon(const std::string &path, bool flushIcon) = 0;
    virtual bool userHasCanceled() = 0;
    virtual void showError(const std::string &message) = 0;
    virtual void setNumberOfItemsExamined(std::int64_t count) = 0;
    virtual void setProgressIndicatorMaxValue(std::int64_t value) = 0;
    virtual void ioIsSlow(bool slow) = 0;
    virtual void setIndeterminate(bool indeterminate) = 0;
    virtual void incrementNumberOfItemsDeleted() = 0;
    virtual void deletionMessageForURL(const URL &url, const std::optional<Error> &error);
    virtual void deletionMessageForContent(const std::string &content, const URL &inside,
                                           const std::optional<Error> &error);
    // The lines deletionMessageForContent words, for many parts removed from one item (the
    // entries of an archive): the item's display name is taken once, and the lines go on
    // together through logMsgs.
    virtual void deletionMessagesForContents(const std::vector<std::string> &contents, const URL &inside);
    virtual void logMsg(const std::string &message);
    // Lines for the run's visible log, in order; by default each goes through logMsg.
    virtual void logMsgs(const std::vector<std::string> &messages);
    virtual void stdoutMsg(const std::string &message);
    virtual void flush() = 0;
    virtual void finishedCleaning() = 0;
    virtual void closeProgressWindow() = 0;
    // True: the engine leaves the active engines as soon as its run ends; false:
    // the display tells the engine later (the window does so when it closes).
    virtual bool deallocAfterCleaningFinished() const = 0;

    // The run knows where the folder lies (it opened the folder on a volume it examined): the
    // folder's deletions are worded without looking its place up again.
    void placeFolder(const std::string &path, const VolumeLocation &location);

protected:
    // The line deletionMessageForURL gives.
    std::string deletionMessage(const URL &url, const std::optional<Error> &error);

private:
    // Where the folder lies and how its volume is named, looked up once for the deletions of
    // one folder rather than once for each.
    struct PlacedFolder
    {
        std::string path;
        VolumeLocation location;
        std::string volumeName;
        MonotonicClock::TimePoint when;
    };
    PlacedFolder placedFolder(const std::string &path);

    std::mutex m_placedMutex;
    std::optional<PlacedFolder> m_placed;
};
