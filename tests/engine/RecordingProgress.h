#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "XMetadataRemoverOwner.h"
#include "XProgressProtocol.h"

// A progress display that keeps what it is told: the deletion counter, the folders shown and
// every line, worded by the shared defaults (only logMsg is its own).
class RecordingProgress : public XProgressProtocol
{
public:
    void setRoot(const URL &) override {}
    void progressFeedback(const std::string &, bool) override {}
    void displayCleaningProgressForFolder(const URL &folder) override;
    void setProgressFeedbackIcon(const std::string &, bool) override {}
    bool userHasCanceled() override;
    void showError(const std::string &) override {}
    void setNumberOfItemsExamined(std::int64_t) override {}
    void setProgressIndicatorMaxValue(std::int64_t) override {}
    void ioIsSlow(bool) override {}
    void setIndeterminate(bool) override {}
    void incrementNumberOfItemsDeleted() override;
    void logMsg(const std::string &message) override;
    void flush() override {}
    void finishedCleaning() override {}
    void closeProgressWindow() override {}
    bool deallocAfterCleaningFinished() const override { return false; }

    std::vector<std::string> lines() const;
    std::vector<std::string> foldersShown() const;
    int deleted() const { return m_deleted; }
    // userHasCanceled answers true from its nth call on (1 = the first).
    void cancelFromCall(int call) { m_cancelFromCall = call; }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_folders;
    std::atomic<int> m_deleted{0};
    std::atomic<int> m_cancelChecks{0};
    std::atomic<int> m_cancelFromCall{0};
};

// The run a remover reports to in tests.
class FakeRemoverOwner : public XMetadataRemoverOwner
{
public:
    std::shared_ptr<XProgressProtocol> currentProgress() const override { return m_progress; }

    std::shared_ptr<XProgressProtocol> m_progress = std::make_shared<RecordingProgress>();
    RecordingProgress &recording() const { return static_cast<RecordingProgress &>(*m_progress); }
};
