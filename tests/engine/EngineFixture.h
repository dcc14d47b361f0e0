#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../store/StoreTestEnvironment.h"
#include "ProgressDisplayFactory.h"
#include "XEngine.h"
#include "XProgressProtocol.h"

// The roots as the watcher knows them: each folder's path and its identity now.
std::vector<WatchedRoot> watchedRootsAt(const std::vector<std::string> &paths);

// While it lives, the listing of each folder named fails with EIO at that reading (0 for the
// first), as a failing disk answers; the entries read before are listed.
class FailingListings
{
public:
    explicit FailingListings(std::map<std::string, int> readingOfFailure);
    ~FailingListings();
    FailingListings(const FailingListings &) = delete;
    FailingListings &operator=(const FailingListings &) = delete;
};

// A display that keeps everything a run tells it.
class RunProgress : public XProgressProtocol
{
public:
    void setRoot(const URL &root) override;
    void progressFeedback(const std::string &message, bool flushMessage) override;
    void displayCleaningProgressForFolder(const URL &folder) override;
    void setProgressFeedbackIcon(const std::string &, bool) override {}
    bool userHasCanceled() override;
    void showError(const std::string &message) override;
    void setNumberOfItemsExamined(std::int64_t count) override { m_examined = count; }
    void setProgressIndicatorMaxValue(std::int64_t value) override { m_maxValue = value; }
    void ioIsSlow(bool) override {}
    void setIndeterminate(bool) override {}
    void incrementNumberOfItemsDeleted() override { ++m_deleted; }
    void logMsg(const std::string &message) override;
    void stdoutMsg(const std::string &message) override;
    void flush() override {}
    void finishedCleaning() override { m_finished = true; }
    void closeProgressWindow() override { m_closed = true; }
    bool deallocAfterCleaningFinished() const override { return false; }

    // userHasCanceled answers true from its nth call on (1 = the first).
    void cancelFromCall(int call) { m_cancelFromCall = call; }
    std::vector<std::string> feedback() const;
    std::vector<std::string> lines() const;
    std::vector<std::string> stdoutLines() const;
    std::vector<std::string> errors() const;
    std::vector<std::string> foldersShown() const;

    std::atomic<std::int64_t> m_examined{0};
    std::atomic<std::int64_t> m_maxValue{-1};
    std::atomic<int> m_deleted{0};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_closed{false};
    // Called on the run's thread as each folder is shown; set before the run starts.
    std::function<void(const URL &)> m_onFolder;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_feedback;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_stdout;
    std::vector<std::string> m_errors;
    std::vector<std::string> m_folders;
    std::atomic<int> m_cancelChecks{0};
    std::atomic<int> m_cancelFromCall{0};
};

// Stands in for the progress windows: one display per run, a root that can be made busy.
class RunWindows : public ProgressDisplayFactory
{
public:
    bool bringWindowCleaningRootToFront(const URL &root) override;
    std::shared_ptr<XProgressProtocol> makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                      const URL &root) override;

    std::mutex m_mutex;
    std::vector<std::weak_ptr<XEngineParent>> m_parents;
    std::vector<std::shared_ptr<RunProgress>> m_displays;
    std::vector<std::string> m_busyRoots;
    std::vector<std::string> m_broughtToFront;
    // Set up each display before its run starts.
    std::function<void(RunProgress &)> m_prepare;
};

// Engines of the tests' own, on the scripted disks of the store's environment, with the
// progress windows replaced and the catch-all "disks" record's options under the test's control.
class EngineFixture : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::shared_ptr<XEngine> makeEngine(bool manuallyCleaning = true, bool simulation = false,
                                        bool unmountAfterClean = false);
    // Switches options of the "disks" record that governs the scripted stick.
    void setDiskOptions(const std::map<std::string, bool> &options);
    // A file below the stick's folder "Docs", with its folders made.
    std::string file(const std::string &relative, const std::string &contents = "x");
    std::string folder(const std::string &relative);
    std::string path(const std::string &relative) const { return m_docs + "/" + relative; }
    URL docsURL() const { return URL::fileURLWithPath(m_docs); }
    // Waits until the engine has left the active engines and nothing else holds it.
    static bool gone(const std::weak_ptr<XEngine> &engine);
    bool waitForFinishedRuns(std::size_t runs);
    // Every entry below the folder with its kind and contents (links as their targets).
    static std::map<std::string, std::string> treeSnapshot(const std::string &folder);

    StoreTestEnvironment m_environment;
    std::string m_docs;
    std::shared_ptr<RunWindows> m_windows = std::make_shared<RunWindows>();
    std::vector<std::shared_ptr<XEngine>> m_engines;
};
