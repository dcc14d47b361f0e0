#pragma once

#include "XProgressProtocol.h"

// The silent progress of background runs: shows nothing, never cancels, and lets its
// engine go as soon as the run ends. Deletion lines reach the log only through the
// shared defaults, that is while "logDeletions" is on.
class XProgressNull : public XProgressProtocol
{
public:
    void setRoot(const URL &root) override;
    void progressFeedback(const std::string &message, bool flushMessage) override;
    void displayCleaningProgressForFolder(const URL &folder) override;
    void setProgressFeedbackIcon(const std::string &path, bool flushIcon) override;
    bool userHasCanceled() override;
    void showError(const std::string &message) override;
    void setNumberOfItemsExamined(std::int64_t count) override;
    void setProgressIndicatorMaxValue(std::int64_t value) override;
    void ioIsSlow(bool slow) override;
    void setIndeterminate(bool indeterminate) override;
    void incrementNumberOfItemsDeleted() override;
    // Nothing is worded while "logDeletions" is off: the line would go nowhere.
    void deletionMessageForURL(const URL &url, const std::optional<Error> &error) override;
    void deletionMessageForContent(const std::string &content, const URL &inside,
                                   const std::optional<Error> &error) override;
    void flush() override;
    void finishedCleaning() override;
    void closeProgressWindow() override;
    bool deallocAfterCleaningFinished() const override;
};
