#include "EngineFixture.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "DirectoryRecords.h"
#include "ModifierKeys.h"
#include "PhysicalPath.h"
#include "PreferencesSupport.h"
#include "StatisticsManager.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "XTWStore.h"

using namespace std::chrono_literals;

void RunProgress::setRoot(const URL &) {}

void RunProgress::progressFeedback(const std::string &message, bool)
{
    std::lock_guard lock(m_mutex);
    m_feedback.push_back(message);
}

void RunProgress::displayCleaningProgressForFolder(const URL &folder)
{
    {
        std::lock_guard lock(m_mutex);
        m_folders.push_back(folder.path());
    }
    if (m_onFolder)
        m_onFolder(folder);
}

bool RunProgress::userHasCanceled()
{
    const int call = ++m_cancelChecks;
    return m_cancelFromCall > 0 && call >= m_cancelFromCall;
}

void RunProgress::showError(const std::string &message)
{
    std::lock_guard lock(m_mutex);
    m_errors.push_back(message);
}

// As the window does: shown, and in the log while deletions are logged.
void RunProgress::logMsg(const std::string &message)
{
    {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(message);
    }
    XProgressProtocol::stdoutMsg(message);
}

void RunProgress::stdoutMsg(const std::string &message)
{
    {
        std::lock_guard lock(m_mutex);
        m_stdout.push_back(message);
    }
    XProgressProtocol::stdoutMsg(message);
}

std::vector<std::string> RunProgress::feedback() const
{
    std::lock_guard lock(m_mutex);
    return m_feedback;
}

std::vector<std::string> RunProgress::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

std::vector<std::string> RunProgress::stdoutLines() const
{
    std::lock_guard lock(m_mutex);
    return m_stdout;
}

std::vector<std::string> RunProgress::errors() const
{
    std::lock_guard lock(m_mutex);
    return m_errors;
}

std::vector<std::string> RunProgress::foldersShown() const
{
    std::lock_guard lock(m_mutex);
    return m_folders;
}

bool RunWindows::bringWindowCleaningRootToFront(const URL &root)
{
    std::lock_guard lock(m_mutex);
    if (std::find(m_busyRoots.begin(), m_busyRoots.end(), root.path()) == m_busyRoots.end())
        return false;
    m_broughtToFront.push_back(root.path());
    return true;
}

std::shared_ptr<XProgressProtocol> RunWindows::makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                              const URL &)
{
    std::lock_guard lock(m_mutex);
    m_parents.push_back(parent);
    auto display = std::make_shared<RunProgress>();
    if (m_prepare)
        m_prepare(*display);
    m_displays.push_back(display);
    return display;
}

void EngineFixture::SetUp()
{
    XTWStore::shared().load();
    StatisticsManager::shared().clearHistory();
    ProgressDisplayFactory::setCurrent(m_windows);
    ModifierKeys::setFlagsForTesting(0);
    m_docs = m_environment.volume("STICK") + "/Docs";
    std::filesystem::create_directories(m_docs);
}

void EngineFixture::TearDown()
{
    // What a window does when it closes.
    for (const std::weak_ptr<XEngineParent> &parent : m_windows->m_parents) {
        if (const std::shared_ptr<XEngineParent> engine = parent.lock())
            engine->progressWindowClosed();
    }
    for (const std::shared_ptr<XEngine> &engine : m_engines)
        engine->removeFromActiveEngineList();
    std::vector<std::weak_ptr<XEngine>> engines(m_engines.begin(), m_engines.end());
    m_engines.clear();
    for (const std::weak_ptr<XEngine> &engine : engines)
        EXPECT_TRUE(gone(engine)) << "an engine outlived its test";
    ModifierKeys::setFlagsForTesting(std::nullopt);
    ProgressDisplayFactory::setCurrent(nullptr);
}

std::shared_ptr<XEngine> EngineFixture::makeEngine(bool manuallyCleaning, bool simulation, bool unmountAfterClean)
{
    m_engines.push_back(XEngine::make(simulation, manuallyCleaning, unmountAfterClean, false, false));
    return m_engines.back();
}

void EngineFixture::setDiskOptions(const std::map<std::string, bool> &options)
{
    XFSDiskOrDirectory record = XTWStore::shared().detailsForDisks();
    for (const auto &[key, enabled] : options) {
        const std::optional<XFSDetailsFlagItem> item = record.findFlag(key);
        ASSERT_TRUE(item) << key;
        record.updateFlags({item->withEnabled(enabled)});
    }
    record.setMode(XFSDiskOrDirectory::CleanMode::alwaysClean);
    XTWStore::shared().update(record);
}

std::string EngineFixture::file(const std::string &relative, const std::string &contents)
{
    const std::string full = path(relative);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    writeFile(full, contents);
    return full;
}

std::string EngineFixture::folder(const std::string &relative)
{
    std::filesystem::create_directories(path(relative));
    return path(relative);
}

bool EngineFixture::gone(const std::weak_ptr<XEngine> &engine)
{
    return runEventLoopUntil([&] { return engine.expired(); });
}

bool EngineFixture::waitForFinishedRuns(std::size_t runs)
{
    return runEventLoopUntil([&] {
        std::lock_guard lock(m_windows->m_mutex);
        return m_windows->m_displays.size() == runs
               && std::all_of(m_windows->m_displays.begin(), m_windows->m_displays.end(),
                              [](const auto &display) { return display->m_finished.load(); });
    });
}

std::map<std::string, std::string> EngineFixture::treeSnapshot(const std::string &folder)
{
    std::map<std::string, std::string> entries;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string itemPath = entry.path().string();
        if (entry.is_symlink())
            entries[itemPath] = "link " + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            entries[itemPath] = "folder";
        else
            entries[itemPath] = "file " + readFile(itemPath);
    }
    return entries;
}

std::vector<WatchedRoot> watchedRootsAt(const std::vector<std::string> &paths)
{
    std::vector<WatchedRoot> roots;
    for (const std::string &path : paths) {
        const std::optional<WatchedRoot> root = WatchedRoot::at(path);
        roots.push_back(root ? *root : WatchedRoot{path, {}});
    }
    return roots;
}

FailingListings::FailingListings(std::map<std::string, int> readingOfFailure)
{
    DirectoryRecords::setFailureForTesting([failing = std::move(readingOfFailure)](int fd, int reading) {
        const std::optional<std::string> folder = physicalPathOfDescriptor(fd);
        const auto found = folder ? failing.find(*folder) : failing.end();
        return found != failing.end() && found->second == reading ? EIO : 0;
    });
}

FailingListings::~FailingListings()
{
    DirectoryRecords::setFailureForTesting(nullptr);
}
