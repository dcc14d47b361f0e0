#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "../store/LogCapture.h"
#include "EngineFixture.h"
#include "SystemLog.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
class XEngineWalkTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        setDiskOptions({{"appledouble_netatalk", false}});
    }

    std::shared_ptr<RunProgress> runAndWait(const std::shared_ptr<XEngine> &engine, const std::vector<URL> &urls)
    {
        const std::size_t runs = m_windows->m_displays.size() + 1;
        engine->cleanWithProgressUI(urls);
        EXPECT_TRUE(waitForFinishedRuns(runs));
        std::lock_guard lock(m_windows->m_mutex);
        return m_windows->m_displays.empty() ? std::make_shared<RunProgress>() : m_windows->m_displays.back();
    }

    std::string relative(const std::string &full) const
    {
        return full == m_docs ? "." : full.substr(m_docs.size() + 1);
    }
};

// A system logger that takes no line in until it is let go (at the latest when it is destroyed).
class StuckSystemLogger
{
public:
    StuckSystemLogger()
    {
        SystemLog::flush(SystemLog::waitLimit);
        // The writer thread keeps its own copy of the output: the state outlives this object.
        SystemLog::setOutputForTesting([state = m_state](const std::string &) {
            std::unique_lock lock(state->mutex);
            state->letGo.wait(lock, [&state] { return state->isLetGo; });
        });
    }

    ~StuckSystemLogger()
    {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->isLetGo = true;
        }
        m_state->letGo.notify_all();
        SystemLog::flush(SystemLog::waitLimit);
        SystemLog::setOutputForTesting({});
    }

    StuckSystemLogger(const StuckSystemLogger &) = delete;
    StuckSystemLogger &operator=(const StuckSystemLogger &) = delete;

private:
    struct State
    {
        std::mutex mutex;
        std::condition_variable letGo;
        bool isLetGo = false;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

bool isListed(const std::shared_ptr<XEngine> &engine)
{
    const auto &engines = XEngine::activeEngines();
    return std::find(engines.begin(), engines.end(), engine) != engines.end();
}
}

TEST_F(XEngineWalkTest, EachFolderIsCleanedBeforeItsContentsAndNothingForbiddenIsEntered)
{
    setDiskOptions({{"appledouble_netatalk", false}, {"volumeAttrs", false}, {"securityData", false},
                    {"tags", false}, {"aliasData", false}, {"colorLabels", false}, {"customIcons", false}});
    TemporaryDirectory outside;
    writeFile(outside.file(".DS_Store"), "x");
    for (const char *name : {"f", "._f", ".DS_Store", "a/.DS_Store", "a/b/.DS_Store", "c/.DS_Store", "X.app/.DS_Store",
                             ".AppleDouble/.DS_Store", ".DocumentRevisions-V100/.DS_Store"})
        file(name);
    fs::create_directory_symlink(outside.path(), path("link"));

    auto engine = makeEngine();
    const auto display = runAndWait(engine, {docsURL()});

    for (const char *gone : {"._f", ".DS_Store", "a/.DS_Store", "a/b/.DS_Store", "c/.DS_Store"})
        EXPECT_FALSE(fileExists(path(gone))) << gone;
    for (const char *kept : {"X.app/.DS_Store", ".AppleDouble/.DS_Store", ".DocumentRevisions-V100/.DS_Store"})
        EXPECT_TRUE(fileExists(path(kept))) << kept;
    EXPECT_TRUE(fileExists(outside.file(".DS_Store"))) << "a link is never followed";

    std::vector<std::string> shown;
    // The AppleDouble pass shows the folder too: one entry per visit.
    for (const std::string &folder : display->foldersShown()) {
        if (shown.empty() || shown.back() != relative(folder))
            shown.push_back(relative(folder));
    }
    ASSERT_EQ(shown.size(), 4u) << testing::PrintToString(shown);
    EXPECT_EQ(shown.front(), ".");
    EXPECT_LT(std::find(shown.begin(), shown.end(), "a"), std::find(shown.begin(), shown.end(), "a/b"));
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{".", "a", "a/b", "c"}));

    // f, a, c, X.app and link in Docs, b in a: what was deleted and the two skipped folders are not counted.
    EXPECT_EQ(engine->totalNumberOfDirectoriesEnumerated(), 6);
    EXPECT_EQ(display->m_examined.load(), 6);
    EXPECT_EQ(display->feedback().back(), "Cleaning completed.");
    const auto lines = display->lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Cleaning Docs..."), lines.end());
    EXPECT_EQ(lines.back(), "Completed cleaning Docs.");
}

TEST_F(XEngineWalkTest, AnEngineWithAWindowStaysListedUntilItsWindowCloses)
{
    file(".DS_Store");
    std::shared_ptr<XEngine> engine = XEngine::make(false, true, false, false, false);
    const std::weak_ptr<XEngine> watched = engine;
    runAndWait(engine, {docsURL()});
    engine.reset();
    runEventLoopFor(30ms);
    ASSERT_FALSE(watched.expired());
    EXPECT_TRUE(isListed(watched.lock()));

    watched.lock()->progressWindowClosed();
    EXPECT_TRUE(gone(watched));
}

TEST_F(XEngineWalkTest, ACancelledRunStopsAndDoesNotUnmount)
{
    for (int index = 0; index < 20; ++index)
        file("f" + std::to_string(index) + "/.DS_Store");
    m_windows->m_prepare = [](RunProgress &display) { display.cancelFromCall(4); };

    const auto display = runAndWait(makeEngine(true, false, true), {docsURL()});

    EXPECT_EQ(display->feedback().back(), "Cleaning stopped.");
    int left = 0;
    for (int index = 0; index < 20; ++index)
        left += fileExists(path("f" + std::to_string(index) + "/.DS_Store"));
    EXPECT_GT(left, 15);
    runEventLoopFor(50ms);
    EXPECT_TRUE(display->stdoutLines().empty()) << "no unmount after a cancel";
}

TEST_F(XEngineWalkTest, AnItemThatIsNoMountPointCannotBeUnmounted)
{
    const auto display = runAndWait(makeEngine(true, false, true), {docsURL()});
    ASSERT_TRUE(runEventLoopUntil([&] { return !display->stdoutLines().empty(); }));
    EXPECT_EQ(display->stdoutLines(), std::vector<std::string>{"Couldn't unmount file://" + m_docs + "/"});
}

TEST_F(XEngineWalkTest, ARootABusyWindowIsCleaningIsBroughtForwardAndTheNewEngineLeaves)
{
    file(".DS_Store");
    m_windows->m_busyRoots.push_back(m_docs);
    std::shared_ptr<XEngine> engine = XEngine::make(false, true, false, false, false);
    const std::weak_ptr<XEngine> watched = engine;
    engine->cleanWithProgressUI({URL::fileURLWithPath(m_docs + "/")});
    engine.reset();

    EXPECT_TRUE(gone(watched));
    EXPECT_EQ(m_windows->m_broughtToFront, std::vector<std::string>{m_docs});
    EXPECT_TRUE(m_windows->m_displays.empty());
    EXPECT_TRUE(fileExists(path(".DS_Store")));
}

TEST_F(XEngineWalkTest, ASimulatedWalkChangesNothing)
{
    setDiskOptions({{"appledouble_netatalk", true}, {"volumeAttrs", false}, {"securityData", false},
                    {"tags", false}, {"aliasData", false}, {"colorLabels", false}, {"customIcons", false}});
    for (const char *name : {".DS_Store", "a/.DS_Store", "a/b/Thumbs.db", "a/x", "a/._x", "c/desktop.ini"})
        file(name);
    folder("c/.AppleDouble");
    file("a/.tarnwick-ad-AbCdEfGh.tarnwick-tmp");
    const struct timespec twoHoursAgo[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path("a/.tarnwick-ad-AbCdEfGh.tarnwick-tmp").c_str(), twoHoursAgo, 0), 0);
    const auto before = treeSnapshot(m_docs);

    const auto display = runAndWait(makeEngine(true, true), {docsURL()});

    EXPECT_EQ(treeSnapshot(m_docs), before);
    EXPECT_EQ(display->feedback().back(), "Cleaning completed.");
    EXPECT_GT(display->m_deleted.load(), 0) << "what would go is still reported";
}

TEST_F(XEngineWalkTest, ASimulatedWalkDoesNotWaitOnAStuckSystemLogger)
{
    setDiskOptions({{"appledouble_netatalk", true}});
    constexpr int folders = 200;
    for (int index = 0; index < folders; ++index) {
        const std::string folderName = "s" + std::to_string(index / 20) + "/" + std::to_string(index);
        file(folderName + "/.DS_Store");
        if (index % 2 == 0)
            folder(folderName + "/.AppleDouble");
    }
    file("Thing.app/.DS_Store");
    const auto before = treeSnapshot(m_docs);

    LogCapture log;
    StuckSystemLogger stuck;
    const std::size_t runs = m_windows->m_displays.size() + 1;
    makeEngine(true, true)->cleanWithProgressUI({docsURL()});
    // Waiting on the logger for each of these lines would take minutes.
    EXPECT_TRUE(runEventLoopUntil(
        [&] {
            std::lock_guard lock(m_windows->m_mutex);
            return m_windows->m_displays.size() == runs && m_windows->m_displays.back()->m_finished.load();
        },
        std::chrono::seconds(30)));

    EXPECT_EQ(log.countContaining("Simulation mode is running so would have tried to delete: "),
              std::size_t(folders + folders / 2));
    EXPECT_EQ(log.countContaining("Ignore " + path("Thing.app")), 1u);
    EXPECT_EQ(treeSnapshot(m_docs), before);
}

TEST_F(XEngineWalkTest, FoldersDeeperThanAPathCanNameAreSkippedWithOneLineInTheWindowAndTheLog)
{
    // Only the .DS_Store option, and files at two levels: every step of a clean goes by path,
    // and a path this deep costs the kernel one lookup per level.
    setDiskOptions({{"thumbsdb", false}, {"desktopini", false}, {"apdisk", false}, {"appledouble", false},
                    {"eaDir_Synology", false}});
    // Made relative to open folders, since their paths grow past what a path can name.
    const std::string step = "dd";
    const std::size_t levels = PATH_MAX / (step.size() + 1) + 40;
    int directory = open(m_docs.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(directory, 0);
    for (std::size_t level = 0; level < levels; ++level) {
        ASSERT_EQ(mkdirat(directory, step.c_str(), 0755), 0);
        const int child = openat(directory, step.c_str(), O_RDONLY | O_DIRECTORY);
        close(directory);
        ASSERT_GE(child, 0);
        directory = child;
        if (level == 2 || level + 1 == levels)
            close(openat(directory, ".DS_Store", O_CREAT | O_WRONLY, 0644));
    }
    close(directory);

    LogCapture log;
    const auto display = runAndWait(makeEngine(), {docsURL()});

    EXPECT_FALSE(fileExists(path("dd/dd/dd/.DS_Store")));
    // Said once, in the window's list and in the log; the chosen folder was cleaned.
    const std::string tooLong = std::string(": ") + std::strerror(ENAMETOOLONG);
    EXPECT_EQ(log.countContaining(tooLong), 1u);
    const auto lines = display->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string &line) {
                                return line.starts_with("Not cleaned: " + m_docs + "/dd/") && line.ends_with(tooLong);
                            }),
              1);
    EXPECT_EQ(display->feedback().back(), "Cleaning completed.");
    // The deepest level is still there, with its file.
    int deepest = open(m_docs.c_str(), O_RDONLY | O_DIRECTORY);
    for (std::size_t level = 0; level < levels; ++level) {
        const int child = openat(deepest, step.c_str(), O_RDONLY | O_DIRECTORY);
        close(deepest);
        deepest = child;
    }
    EXPECT_EQ(faccessat(deepest, ".DS_Store", F_OK, AT_SYMLINK_NOFOLLOW), 0);

    // Taken down from the bottom up, since the temporary folder's removal goes by path.
    unlinkat(deepest, ".DS_Store", 0);
    for (std::size_t level = 0; level < levels; ++level) {
        const int parent = openat(deepest, "..", O_RDONLY | O_DIRECTORY);
        close(deepest);
        deepest = parent;
        EXPECT_EQ(unlinkat(deepest, step.c_str(), AT_REMOVEDIR), 0);
    }
    close(deepest);
}

TEST_F(XEngineWalkTest, ABatchCleansOnlyEachFolderItselfAndLetsItsEngineGo)
{
    file(".DS_Store");
    file("Sub/.DS_Store");
    std::shared_ptr<XEngine> engine = XEngine::make(false, false, false, false, false);
    const std::weak_ptr<XEngine> watched = engine;
    runEventLoopFor(20ms);
    engine->cleanOnThread({m_docs}, watchedRootsAt({m_docs}));
    engine.reset();

    EXPECT_FALSE(fileExists(path(".DS_Store")));
    EXPECT_TRUE(fileExists(path("Sub/.DS_Store")));
    EXPECT_TRUE(gone(watched));
}

TEST_F(XEngineWalkTest, StaleTemporaryCopiesOfAKilledRewriteGoAndEverythingElseStays)
{
    const auto makeStale = [this](const std::string &relative) {
        const struct timespec twoHoursAgo[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path(relative).c_str(), twoHoursAgo, AT_SYMLINK_NOFOLLOW), 0) << relative;
    };
    const std::vector<std::string> stale = {".tarnwick-Photos.zip.Ab3xY9.tarnwick-tmp",
                                            "a/.tarnwick-ad-Zq81mNop.tarnwick-tmp",
                                            "a/b/.tarnwick-x.zip.000000.tarnwick-tmp"};
    // The user's own files, among them names like the copies of earlier versions, which could be theirs.
    const std::vector<std::string> lookalikes = {".tarnwick-Photos.zip.tarnwick-tmp",
                                                 ".tarnwick-Photos.zip.Ab3x-9.tarnwick-tmp",
                                                 ".tarnwick-ad-short.tarnwick-tmp",
                                                 "a/.tarnwick-ad-Zq81mNop9.tarnwick-tmp",
                                                 "a/tarnwick-Photos.zip.Ab3xY9.tarnwick-tmp",
                                                 ".tarnwick-Photos.zip.Ab3xY9.tarnwick-tmp.bak",
                                                 ".tarnwick-x.backup",
                                                 ".tarnwick-Photos.zip.Ab3xY9",
                                                 "a/.tarnwick-ad-Zq81mNop"};
    for (const std::string &name : stale) {
        file(name);
        makeStale(name);
    }
    for (const std::string &name : lookalikes) {
        file(name);
        makeStale(name);
    }
    const std::string fresh = "a/.tarnwick-Report.zip.Qw12Er.tarnwick-tmp";
    file(fresh);
    // A link named as one of ours is neither followed nor removed.
    TemporaryDirectory outside;
    writeFile(outside.file("target"), "kept");
    ASSERT_EQ(symlink(outside.file("target").c_str(), path(".tarnwick-ad-LinkLink.tarnwick-tmp").c_str()), 0);
    makeStale(".tarnwick-ad-LinkLink.tarnwick-tmp");
    ASSERT_EQ(mkdir(path(".tarnwick-dir.zip.Folder.tarnwick-tmp").c_str(), 0755), 0);
    makeStale(".tarnwick-dir.zip.Folder.tarnwick-tmp");

    auto engine = makeEngine();
    runAndWait(engine, {docsURL()});

    for (const std::string &name : stale)
        EXPECT_FALSE(fileExists(path(name))) << name << " is a stale copy of ours";
    for (const std::string &name : lookalikes)
        EXPECT_TRUE(fileExists(path(name))) << name << " is not named as ours";
    EXPECT_TRUE(fileExists(path(fresh))) << "a rewrite may still be writing a fresh copy";
    struct stat status;
    EXPECT_EQ(lstat(path(".tarnwick-ad-LinkLink.tarnwick-tmp").c_str(), &status), 0) << "a link is not ours to remove";
    EXPECT_EQ(readFile(outside.file("target")), "kept");
    EXPECT_TRUE(fs::is_directory(path(".tarnwick-dir.zip.Folder.tarnwick-tmp"))) << "only regular files are removed";
}

TEST_F(XEngineWalkTest, AFolderCleanedOnItsOwnLosesItsStaleTemporaryCopiesToo)
{
    file(".tarnwick-ad-AbCdEfGh.tarnwick-tmp");
    const struct timespec twoHoursAgo[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path(".tarnwick-ad-AbCdEfGh.tarnwick-tmp").c_str(), twoHoursAgo, 0), 0);
    file("Sub/.tarnwick-ad-AbCdEfGh.tarnwick-tmp");
    ASSERT_EQ(utimensat(AT_FDCWD, path("Sub/.tarnwick-ad-AbCdEfGh.tarnwick-tmp").c_str(), twoHoursAgo, 0), 0);
    std::shared_ptr<XEngine> engine = XEngine::make(false, false, false, false, false);
    runEventLoopFor(20ms);
    engine->cleanOnThread({m_docs}, watchedRootsAt({m_docs}));
    engine.reset();

    EXPECT_FALSE(fileExists(path(".tarnwick-ad-AbCdEfGh.tarnwick-tmp")));
    EXPECT_TRUE(fileExists(path("Sub/.tarnwick-ad-AbCdEfGh.tarnwick-tmp"))) << "only the folder cleaned is touched";
}
