#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "../store/LogCapture.h"
#include "EngineFixture.h"
#include "FileDescriptor.h"
#include "Md5.h"
#include "ScopedMount.h"
#include "StatisticsManager.h"
#include "TestSupport.h"
#include "XTWStore.h"

using namespace std::chrono_literals;

namespace fs = std::filesystem;

namespace
{
const std::string quarantine = "user.com.apple.quarantine";
const std::string tags = "user.com.apple.metadata:_kMDItemUserTags";
const std::string lastUsed = "user.com.apple.lastuseddate#PS";

void setAttribute(const std::string &path, const std::string &name, const std::string &value)
{
    ASSERT_EQ(lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0) << path << " " << name;
}

std::vector<std::string> userAttributesOf(const std::string &path)
{
    std::vector<char> names(65536);
    const ssize_t length = llistxattr(path.c_str(), names.data(), names.size());
    std::vector<std::string> found;
    for (ssize_t at = 0; at < length;) {
        const std::string name(names.data() + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        if (name.starts_with("user."))
            found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Every name, kind, byte, link target and `user.` attribute below the folder, links not followed.
std::map<std::string, std::string> fingerprint(const std::string &folder)
{
    std::map<std::string, std::string> print;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        const std::string path = entry.path().string();
        std::string description;
        if (entry.is_symlink())
            description = "link " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            description = "folder";
        else
            description = "file " + md5(readFile(path));
        for (const std::string &name : userAttributesOf(path)) {
            std::vector<char> value(65536);
            const ssize_t size = lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
            description += " " + name + "=" + std::string(value.data(), size > 0 ? std::size_t(size) : 0);
        }
        print[path.substr(folder.size())] = description;
    }
    return print;
}

// Mac metadata of every kind the options cover, a black-listed folder and a data file
// whose "._" companion decides on its attributes.
void populate(const std::string &folder, int subfolders)
{
    fs::create_directories(folder + "/@eaDir/thumbs");
    fs::create_directories(folder + "/cache-notes");
    writeFile(folder + "/cache-notes/notes.txt", "notes");
    writeFile(folder + "/@eaDir/thumbs/t.jpg", "t");
    writeFile(folder + "/.DS_Store", "ds");
    writeFile(folder + "/Thumbs.db", "tb");
    writeFile(folder + "/keep.txt", "keep");
    writeFile(folder + "/a.txt", "data");
    writeFile(folder + "/._a.txt", "companion");
    setAttribute(folder + "/a.txt", quarantine, "q");
    setAttribute(folder + "/a.txt", tags, "t");
    setAttribute(folder + "/a.txt", lastUsed, "u");
    for (int index = 0; index < subfolders; ++index) {
        const std::string sub = folder + "/d" + std::to_string(index);
        fs::create_directories(sub);
        writeFile(sub + "/.DS_Store", "ds");
        writeFile(sub + "/._kept", "companion");
        writeFile(sub + "/kept", "kept");
    }
}

// The names of the folder's subfolders, in the order the file system lists them.
std::vector<std::string> subfolderNames(const std::string &folder)
{
    std::vector<std::string> names;
    DIR *directory = opendir(folder.c_str());
    while (const dirent *entry = directory ? readdir(directory) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && entry->d_type == DT_DIR)
            names.push_back(name);
    }
    if (directory)
        closedir(directory);
    return names;
}

bool isLink(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool isFolder(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Waits (a while at most) until the count has moved: the other side is at work.
void waitUntilPositive(const std::atomic<int> &count)
{
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (count.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(100us);
}

// Exchanges each folder with its link (renameat2 RENAME_EXCHANGE), one pair after the other,
// back and forth as fast as it can, until stopped; then puts every folder back in its place.
// Made once it has made its first exchange.
class Exchanger
{
public:
    // Pairs of a folder and a symbolic link beside it.
    explicit Exchanger(std::vector<std::pair<std::string, std::string>> pairs)
        : m_pairs(std::move(pairs)), m_thread([this] { run(); })
    {
        waitUntilPositive(m_exchanges);
    }
    ~Exchanger() { stop(); }

    // Answers the exchanges made.
    int stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (const auto &[folder, link] : m_pairs) {
            if (isLink(folder) && isFolder(link))
                renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
        }
        return m_exchanges.load();
    }

private:
    void run()
    {
        while (!m_stop.load()) {
            for (const auto &[folder, link] : m_pairs) {
                if (renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0)
                    ++m_exchanges;
            }
        }
    }

    const std::vector<std::pair<std::string, std::string>> m_pairs;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_exchanges{0};
    std::thread m_thread;
};

// Folders in a batch of the race tests: the watcher's batches are often as large.
constexpr int batchSubfolders = 200;

// The batch the watcher would hand over for a tree: the folder and its subfolders d0, d1 ...
std::vector<std::string> changedFolders(const std::string &folder, int subfolders)
{
    std::vector<std::string> folders{folder};
    for (int index = 0; index < subfolders; ++index)
        folders.push_back(folder + "/d" + std::to_string(index));
    return folders;
}

int cleanedSubfolders(const std::string &folder, int subfolders)
{
    int cleaned = 0;
    for (int index = 0; index < subfolders; ++index)
        cleaned += fileExists(folder + "/d" + std::to_string(index) + "/.DS_Store") ? 0 : 1;
    return cleaned;
}

class XEngineRaceTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        writeFile(m_outside.file("probe"), "");
        if (lsetxattr(m_outside.file("probe").c_str(), "user.probe", "1", 1, 0) != 0)
            GTEST_SKIP() << "the temporary folder's file system keeps no user attributes";
        unlink(m_outside.file("probe").c_str());
        // Every option on, a black-list pattern among them.
        XFSDiskOrDirectory record = XTWStore::shared().detailsForDisks();
        record.update(std::vector<BlackListItem>{{md5("cache-*"), "cache-*"}});
        std::vector<XFSDetailsFlagItem> enabled;
        for (const XFSDetailsFlagItem &item : record.detailsFlags())
            enabled.push_back(item.withEnabled(true));
        record.updateFlags(enabled);
        record.setMode(XFSDiskOrDirectory::CleanMode::alwaysClean);
        XTWStore::shared().update(record);
    }

    std::shared_ptr<RunProgress> runAndWait(const std::function<void(const URL &)> &onFolder = {})
    {
        const std::size_t runs = m_windows->m_displays.size() + 1;
        m_windows->m_prepare = [onFolder](RunProgress &display) { display.m_onFolder = onFolder; };
        makeEngine()->cleanWithProgressUI({docsURL()});
        EXPECT_TRUE(waitForFinishedRuns(runs));
        std::lock_guard lock(m_windows->m_mutex);
        return m_windows->m_displays.back();
    }

    // The folder the swap never touches came out as a clean must leave it.
    void expectCleaned(const std::string &folder, int subfolders)
    {
        for (const char *gone : {"/.DS_Store", "/Thumbs.db", "/@eaDir", "/cache-notes"})
            EXPECT_FALSE(fileExists(folder + gone)) << folder + gone;
        EXPECT_EQ(readFile(folder + "/keep.txt"), "keep");
        // The tags and quarantine are kept, so the companion stays; the rest is stripped.
        EXPECT_TRUE(fileExists(folder + "/._a.txt"));
        EXPECT_EQ(userAttributesOf(folder + "/a.txt"), (std::vector<std::string>{tags, quarantine}));
        for (int index = 0; index < subfolders; ++index) {
            const std::string sub = folder + "/d" + std::to_string(index);
            EXPECT_FALSE(fileExists(sub + "/.DS_Store")) << sub;
            EXPECT_FALSE(fileExists(sub + "/._kept")) << sub;
            EXPECT_TRUE(fileExists(sub + "/kept")) << sub;
        }
    }

    // A background engine cleans the batch on this thread, as the watcher's batches are cleaned.
    void cleanBatch(const std::vector<std::string> &folders, const std::vector<std::string> &roots)
    {
        XEngine::make(false, false, false, false, false)->cleanOnThread(folders, watchedRootsAt(roots));
    }

    // Round after round, a fresh folder "swap" and its subfolders are cleaned as one batch while
    // the pairs that `exchanged` makes for the round are exchanged: nothing outside changes, and
    // what stays in place is cleaned.
    void raceBatches(const std::function<std::vector<std::pair<std::string, std::string>>()> &exchanged)
    {
        constexpr int rounds = 20;
        setDiskOptions({{"onlyCleanManually", false}});
        populate(m_outside.path(), batchSubfolders);
        const auto before = fingerprint(m_outside.path());
        int exchanges = 0;
        int cleaned = 0;
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(round);
            fs::remove_all(path("swap"));
            populate(path("swap"), batchSubfolders);
            {
                Exchanger exchanger(exchanged());
                cleanBatch(changedFolders(path("swap"), batchSubfolders), {m_docs});
                exchanges += exchanger.stop();
            }
            ASSERT_EQ(fingerprint(m_outside.path()), before);
            cleaned += cleanedSubfolders(path("swap"), batchSubfolders);
        }
        EXPECT_GT(exchanges, rounds);
        EXPECT_GT(cleaned, 0) << "the folders reached while in place are cleaned";
    }

    TemporaryDirectory m_outside;
};
}

TEST_F(XEngineRaceTest, AFolderSwappedForALinkBeforeTheWalkEntersItIsLeftWithALogLine)
{
    populate(m_outside.path(), 2);
    populate(path("swap"), 2);
    populate(path("stay"), 2);
    const auto before = fingerprint(m_outside.path());
    LogCapture log;
    // Docs is shown once its own clean is done and before anything inside it is entered.
    std::atomic<bool> swapped{false};
    runAndWait([&](const URL &folder) {
        if (folder.path() != m_docs || swapped.exchange(true))
            return;
        fs::rename(path("swap"), path("swap.real"));
        fs::create_directory_symlink(m_outside.path(), path("swap"));
    });

    EXPECT_TRUE(swapped.load());
    EXPECT_EQ(fingerprint(m_outside.path()), before);
    EXPECT_EQ(log.countContaining("Not cleaned: " + path("swap")), 1u);
    EXPECT_TRUE(fileExists(path("swap.real/d0/.DS_Store"))) << "neither reached through the link";
    expectCleaned(path("stay"), 2);
}

// A folder deep in a tree moved out of it while the walk is inside it: the walk finishes the
// folder's own entries wherever it now is, touches nothing else out there, and goes on with
// the folders after it in its former parent, which it no longer holds open by then and must
// reach again from inside the tree.
TEST_F(XEngineRaceTest, AFolderMovedOutOfTheTreeMidWalkHasOnlyItsOwnEntriesTouched)
{
    constexpr int chain = 40;
    populate(m_outside.path(), 2);
    for (int index = 0; index < 8; ++index)
        populate(path("side/s" + std::to_string(index)), 1);
    // The walk lists the folders in the order the file system gives them: the first one moves.
    const std::vector<std::string> order = subfolderNames(path("side"));
    ASSERT_EQ(order.size(), 8u);
    const std::string mover = path("side/" + order.front());
    // Out there, folders named as the ones after it: a walk that took the mover's new parent
    // for its former one would clean them.
    for (std::size_t index = 1; index < order.size(); ++index)
        populate(m_outside.file(order[index]), 1);
    std::string deepest = mover;
    for (int level = 0; level < chain; ++level) {
        deepest += "/c";
        fs::create_directory(deepest);
        writeFile(deepest + "/.DS_Store", "ds");
    }
    const auto before = fingerprint(m_outside.path());
    LogCapture log;
    std::atomic<bool> moved{false};
    runAndWait([&](const URL &folder) {
        if (folder.path() == deepest && !moved.exchange(true))
            fs::rename(mover, m_outside.file("moved"));
    });

    ASSERT_TRUE(moved.load());
    auto after = fingerprint(m_outside.path());
    std::erase_if(after, [](const auto &entry) { return entry.first.starts_with("/moved"); });
    EXPECT_EQ(after, before) << "nothing out there but the moved folder's own entries";
    EXPECT_FALSE(fileExists(m_outside.file("moved/c/.DS_Store"))) << "cleaned before it moved";
    for (std::size_t index = 1; index < order.size(); ++index)
        expectCleaned(path("side/" + order[index]), 1);
    EXPECT_EQ(log.countContaining("Not cleaned"), 0u);
}

TEST_F(XEngineRaceTest, AFolderSwappedBackAndForthWithALinkNeverLetsTheCleanOutOfItsTree)
{
    constexpr int subfolders = 60;
    constexpr int rounds = 20;
    populate(m_outside.path(), subfolders);
    const auto before = fingerprint(m_outside.path());
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        fs::remove_all(path("swap"));
        fs::remove_all(path("swap.real"));
        fs::remove_all(path("stay"));
        populate(path("swap"), subfolders);
        populate(path("stay"), subfolders);
        stop = false;
        std::atomic<bool> started{false};
        // As fast as it can: the folder aside, a link to the outside folder in its place, and back,
        // the link held longer, so that the walk, once inside the folder, mostly meets it.
        const auto swapAway = [&] {
            const std::string swap = path("swap");
            const std::string aside = path("swap.real");
            const std::string outside = m_outside.path();
            const auto hold = [](std::chrono::microseconds length) {
                const auto until = std::chrono::steady_clock::now() + length;
                while (std::chrono::steady_clock::now() < until) {
                }
            };
            while (!stop.load()) {
                if (rename(swap.c_str(), aside.c_str()) != 0)
                    continue;
                symlink(outside.c_str(), swap.c_str());
                hold(std::chrono::microseconds(100));
                unlink(swap.c_str());
                rename(aside.c_str(), swap.c_str());
                hold(std::chrono::microseconds(20));
                ++swaps;
            }
        };
        // Started once the walk has listed the folder, so that it goes on into its subfolders.
        runAndWait([&](const URL &folder) {
            if (folder.path() == path("swap") && !started.exchange(true))
                swapper = std::thread(swapAway);
        });
        stop = true;
        ASSERT_TRUE(started.load());
        swapper.join();
        ASSERT_EQ(fingerprint(m_outside.path()), before);
        expectCleaned(path("stay"), subfolders);
    }
    EXPECT_GT(swaps.load(), rounds);
}

TEST_F(XEngineRaceTest, ARootFolderItemThatIsABindMountOfAnOutsideFolderIsLeftWhole)
{
    if (!isRoot())
        GTEST_SKIP() << "a bind mount needs root";
    populate(m_outside.path(), 1);
    const auto before = fingerprint(m_outside.path());
    const std::string root = m_environment.volume("STICK");
    fs::create_directories(root + "/.Trashes");
    fs::create_directories(root + "/.Spotlight-V100");
    ScopedMount mounted = ScopedMount::bind(m_outside.path(), root + "/.Trashes");
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();

    makeEngine()->cleanVolume(URL::fileURLWithPath(root));

    EXPECT_FALSE(fileExists(root + "/.Spotlight-V100"));
    EXPECT_EQ(fingerprint(m_outside.path()), before);
}

TEST_F(XEngineRaceTest, ABatchWhoseTreeFolderIsExchangedForALinkNeverLeavesTheWatchedRoot)
{
    fs::create_directory_symlink(m_outside.path(), path("swap.link"));
    raceBatches([this] { return std::vector<std::pair<std::string, std::string>>{{path("swap"), path("swap.link")}}; });
}

TEST_F(XEngineRaceTest, ABatchWhoseChangedFoldersTurnIntoLinksNeverLeavesTheWatchedRoot)
{
    raceBatches([this] {
        std::vector<std::pair<std::string, std::string>> pairs;
        for (int index = 0; index < batchSubfolders; ++index) {
            const std::string name = "/d" + std::to_string(index);
            fs::create_directory_symlink(m_outside.path() + name, path("swap") + name + ".link");
            pairs.emplace_back(path("swap") + name, path("swap") + name + ".link");
        }
        return pairs;
    });
}

TEST_F(XEngineRaceTest, ABatchNamesFoldersOnlyBeneathItsRootsAndTheRootsThemselvesAreNotFollowed)
{
    setDiskOptions({{"onlyCleanManually", false}});
    populate(m_outside.path(), 1);
    populate(path("Tree"), 1);
    const auto before = fingerprint(m_outside.path());
    LogCapture log;
    // A folder under no root, a folder named through "..", and a root that has become a link.
    fs::create_directory_symlink(m_outside.path(), path("Linked"));
    std::string upToTheTop = path("Tree");
    for (std::size_t slashes = std::count(upToTheTop.begin(), upToTheTop.end(), '/'); slashes > 0; --slashes)
        upToTheTop += "/..";
    cleanBatch({m_outside.path(), upToTheTop + m_outside.path(), path("Linked/d0")}, {path("Tree"), path("Linked")});
    EXPECT_EQ(fingerprint(m_outside.path()), before);
    EXPECT_EQ(log.countContaining("Not cleaned: " + path("Linked")), 1u) << "the root once, its folders not at all";

    cleanBatch({path("Tree/d0"), path("Tree")}, {m_docs, path("Tree")});
    EXPECT_FALSE(fileExists(path("Tree/.DS_Store")));
    EXPECT_FALSE(fileExists(path("Tree/d0/.DS_Store")));
}

TEST_F(XEngineRaceTest, AVolumeRootCleanWhoseMetadataFoldersAreExchangedForLinksNeverLeavesTheVolume)
{
    constexpr int rounds = 20;
    constexpr int subfolders = 40;
    populate(m_outside.path(), subfolders);
    const auto before = fingerprint(m_outside.path());
    const std::string root = m_environment.volume("STICK");
    int exchanges = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        // Deleted whole in every round: the statistics must not hold it back as deleted too often.
        StatisticsManager::shared().clearHistory();
        fs::remove_all(root + "/.Trashes.link");
        fs::remove_all(root + "/.Spotlight-V100.link");
        populate(root + "/.Trashes", subfolders);
        populate(root + "/.Spotlight-V100", subfolders);
        fs::create_directory_symlink(m_outside.path(), root + "/.Trashes.link");
        std::vector<std::pair<std::string, std::string>> pairs{{root + "/.Trashes", root + "/.Trashes.link"}};
        for (int index = 0; index < subfolders; ++index) {
            const std::string name = "/d" + std::to_string(index);
            fs::create_directory_symlink(m_outside.path() + name, root + "/.Spotlight-V100" + name + ".link");
            pairs.emplace_back(root + "/.Spotlight-V100" + name, root + "/.Spotlight-V100" + name + ".link");
        }
        {
            Exchanger exchanger(pairs);
            makeEngine()->cleanVolume(URL::fileURLWithPath(root));
            exchanges += exchanger.stop();
        }
        ASSERT_EQ(fingerprint(m_outside.path()), before);
        fs::remove_all(root + "/.Trashes");
        fs::remove_all(root + "/.Spotlight-V100");
    }
    EXPECT_GT(exchanges, rounds);
}

TEST_F(XEngineRaceTest, AReCleanThatFallsDueDuringAWalkWaitsForItAndStaysInsideItsVolume)
{
    constexpr int subfolders = 60;
    XEngine::setRecleanDelayForTesting(0.5f);
    populate(m_outside.path(), subfolders);
    const auto before = fingerprint(m_outside.path());
    const std::string root = m_environment.volume("STICK");
    const URL trashes = URL::fileURLWithPath(root + "/.Trashes");
    populate(path("swap"), subfolders);
    fs::create_directory_symlink(m_outside.path(), path("swap.link"));

    // The eleventh removal of the volume's trash in a row is refused and a re-clean queued.
    const std::shared_ptr<XEngine> engine = makeEngine();
    for (int request = 1; request <= 11; ++request) {
        fs::create_directories(trashes.path());
        engine->cleanVolume(URL::fileURLWithPath(root));
    }
    ASSERT_TRUE(StatisticsManager::shared().isInRecleanQueue(trashes));
    ASSERT_TRUE(fileExists(trashes.path()));

    // The same engine walks Docs; once it is inside, the re-clean falls due.
    std::atomic<bool> due{false};
    std::optional<Exchanger> exchanger;
    m_windows->m_prepare = [&](RunProgress &display) {
        display.m_onFolder = [&](const URL &folder) {
            if (folder.path() != m_docs || due.load())
                return;
            exchanger.emplace(std::vector<std::pair<std::string, std::string>>{{path("swap"), path("swap.link")}});
            const auto until = std::chrono::steady_clock::now() + 20s;
            while (StatisticsManager::shared().isInRecleanQueue(trashes) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(1ms);
            due = true;
        };
    };
    engine->cleanWithProgressUI({docsURL()});
    EXPECT_TRUE(waitForFinishedRuns(1));
    EXPECT_TRUE(due.load());
    ASSERT_TRUE(exchanger);
    EXPECT_GT(exchanger->stop(), 0);
    // The re-clean ran once the walk was done, with a tree of its own: the trash is gone.
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(trashes.path()); }));
    EXPECT_EQ(fingerprint(m_outside.path()), before);
    XEngine::setRecleanDelayForTesting(std::nullopt);
}

namespace
{
// A second user, in a process of its own, exchanging folders of a shared folder with links
// (relative to the shared folder's descriptor) until it is killed.
class AttackerProcess
{
public:
    AttackerProcess(uid_t uid, gid_t gid, int sharedFd, std::vector<std::pair<std::string, std::string>> pairs)
    {
        void *page = mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        m_exchanges = new (page) std::atomic<int>(0);
        m_pid = fork();
        if (m_pid > 0)
            waitUntilPositive(*m_exchanges);
        if (m_pid != 0)
            return;
        // Only system calls from here on: the parent's other threads are not in this process.
        if (syscall(SYS_setgroups, 0, nullptr) != 0 || syscall(SYS_setresgid, gid, gid, gid) != 0
            || syscall(SYS_setresuid, uid, uid, uid) != 0)
            _exit(1);
        for (;;) {
            for (const auto &[folder, link] : pairs) {
                if (renameat2(sharedFd, folder.c_str(), sharedFd, link.c_str(), RENAME_EXCHANGE) == 0)
                    m_exchanges->fetch_add(1);
            }
        }
    }
    ~AttackerProcess() { stop(); }

    int stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        const int made = m_exchanges ? m_exchanges->load() : 0;
        if (m_exchanges) {
            munmap(m_exchanges, sizeof(std::atomic<int>));
            m_exchanges = nullptr;
        }
        return made;
    }

private:
    pid_t m_pid = -1;
    std::atomic<int> *m_exchanges = nullptr;
};

void changeOwner(const std::string &folder, uid_t uid, gid_t gid)
{
    lchown(folder.c_str(), uid, gid);
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        lchown(entry.path().c_str(), uid, gid);
}
}

TEST_F(XEngineRaceTest, AnotherUserSwappingLinksInASharedFolderCannotTurnTheCleanOnTheVictimsOwnFiles)
{
    if (!isRoot())
        GTEST_SKIP() << "a second user id needs root";
    constexpr uid_t attacker = 65534;
    constexpr gid_t group = 65534;
    constexpr int subfolders = 100;
    constexpr int rounds = 20;
    setDiskOptions({{"onlyCleanManually", false}});
    // The victim's own folder, 0700, outside the one shared through the group.
    ASSERT_EQ(chmod(m_outside.path().c_str(), 0700), 0);
    populate(m_outside.path(), subfolders);
    const auto before = fingerprint(m_outside.path());
    const std::string shared = folder("Shared");
    ASSERT_EQ(chown(shared.c_str(), 0, group), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0770), 0);
    const FileDescriptor sharedFd(open(shared.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(sharedFd.isValid());

    int exchanges = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        fs::remove_all(shared + "/work");
        fs::remove_all(shared + "/work.link");
        populate(shared + "/work", subfolders);
        std::vector<std::pair<std::string, std::string>> pairs{{"work", "work.link"}};
        fs::create_directory_symlink(m_outside.path(), shared + "/work.link");
        for (int index = 0; index < subfolders; ++index) {
            const std::string name = "/d" + std::to_string(index);
            fs::create_directory_symlink(m_outside.path() + name, shared + "/work" + name + ".link");
            pairs.emplace_back("work" + name, "work" + name + ".link");
        }
        changeOwner(shared + "/work", attacker, group);
        lchown((shared + "/work.link").c_str(), attacker, group);
        {
            AttackerProcess process(attacker, group, sharedFd.get(), pairs);
            cleanBatch(changedFolders(shared + "/work", subfolders), {shared});
            exchanges += process.stop();
        }
        // The attacker's exchanges undone, for the next round's removal.
        if (isLink(shared + "/work") && isFolder(shared + "/work.link"))
            renameat2(AT_FDCWD, (shared + "/work").c_str(), AT_FDCWD, (shared + "/work.link").c_str(), RENAME_EXCHANGE);
        ASSERT_EQ(fingerprint(m_outside.path()), before);
    }
    EXPECT_GT(exchanges, rounds) << "the second user could exchange the shared folder's entries";
}

namespace
{
using CleanMode = XFSDiskOrDirectory::CleanMode;

// Real disks in the environment's volumes folder, judged by the system's volume facts: the disk
// OUTER, and the disk Card mounted on OUTER's folder "Card" while the walk is in OUTER, after
// OUTER was listed and before "Card" is entered.
class XEngineMountRaceTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        if (!isRoot())
            GTEST_SKIP() << "mounting a tmpfs needs root";
        EngineFixture::SetUp();
        m_outer = m_environment.volume("OUTER");
        m_card = m_outer + "/Card";
        fs::create_directory(m_outer);
        m_outerMount.emplace("tmpfs", m_outer, "tmpfs", "size=4m");
        ASSERT_TRUE(m_outerMount->isMounted()) << m_outerMount->failure();
        fs::create_directory(m_card);
        writeFile(m_outer + "/.DS_Store", "ds");
    }

    void TearDown() override
    {
        m_cardMount.reset();
        m_outerMount.reset();
        EngineFixture::TearDown();
    }

    // The disk Card (of another size than OUTER, so another disk key), with metadata at its top
    // and in a folder.
    void mountCard()
    {
        m_cardMount.emplace("tmpfs", m_card, "tmpfs", "size=2m");
        ASSERT_TRUE(m_cardMount->isMounted()) << m_cardMount->failure();
        fs::create_directory(m_card + "/Sub");
        writeFile(m_card + "/.DS_Store", "ds");
        writeFile(m_card + "/Sub/.DS_Store", "ds");
    }

    // A record of the folder's own that cleans ".DS_Store".
    static void addRecord(const std::string &folder, CleanMode mode)
    {
        XTWStore &store = XTWStore::shared();
        ASSERT_TRUE(store.addDetailsForVolumeAtPath(folder, mode));
        std::optional<XFSDiskOrDirectory> record = store.detailsForURL(URL::fileURLWithPath(folder), false, false);
        ASSERT_TRUE(record && record->path() == folder);
        record->updateFlags({record->findFlag("dsstore")->withEnabled(true)});
        store.update(*record);
    }

    static void setDisksMode(CleanMode mode)
    {
        XFSDiskOrDirectory disks = XTWStore::shared().detailsForDisks();
        disks.updateFlags({disks.findFlag("dsstore")->withEnabled(true)});
        disks.setMode(mode);
        XTWStore::shared().update(disks);
    }

    std::shared_ptr<RunProgress> walkMountingCard()
    {
        m_windows->m_prepare = [this](RunProgress &display) {
            display.m_onFolder = [this](const URL &folder) {
                if (folder.path() == m_outer && !m_cardMount)
                    mountCard();
            };
        };
        makeEngine()->cleanWithProgressUI({URL::fileURLWithPath(m_outer)});
        EXPECT_TRUE(waitForFinishedRuns(1));
        EXPECT_TRUE(m_cardMount && m_cardMount->isMounted()) << "mounted while the walk was in OUTER";
        std::lock_guard lock(m_windows->m_mutex);
        return m_windows->m_displays.back();
    }

    // The items the statistics count as deleted on the volume mounted at the folder.
    static std::int64_t deletedOn(const std::string &mountPoint)
    {
        for (const auto &statistics : StatisticsManager::shared().volumeMetaDataStatistics()) {
            if (statistics->volumeURL().path() == mountPoint)
                return statistics->numberOfItemsDeleted();
        }
        return 0;
    }

    ScopedVolumeFactsSource m_systemFacts{std::make_shared<SystemVolumeFactsSource>()};
    std::string m_outer;
    std::string m_card;
    std::optional<ScopedMount> m_outerMount;
    std::optional<ScopedMount> m_cardMount;
};

std::size_t linesEqualTo(const std::vector<std::string> &lines, const std::string &line)
{
    return std::size_t(std::count(lines.begin(), lines.end(), line));
}
}

TEST_F(XEngineMountRaceTest, ADiskMountedMidWalkThatItsSettingsLeaveAloneIsNotCleanedUnderTheFolderAbove)
{
    addRecord(m_outer, CleanMode::alwaysClean);
    setDisksMode(CleanMode::ignore);

    const std::shared_ptr<RunProgress> display = walkMountingCard();

    EXPECT_FALSE(fileExists(m_outer + "/.DS_Store")) << "OUTER is cleaned under its own record";
    EXPECT_TRUE(fileExists(m_card + "/.DS_Store")) << "Card has no record, and the one for disks says not to clean";
    EXPECT_TRUE(fileExists(m_card + "/Sub/.DS_Store"));
    EXPECT_EQ(linesEqualTo(display->lines(), "Deleted .DS_Store on OUTER"), 1u);
    EXPECT_EQ(display->lines().size(), 3u) << "the run's own two lines and the one deletion";
}

TEST_F(XEngineMountRaceTest, ADiskMountedMidWalkIsCleanedUnderItsOwnRecordAndCountedAsItself)
{
    // Card's record names the disk by its key, read while it is mounted; the disk is then away
    // until the walk is in OUTER.
    mountCard();
    addRecord(m_card, CleanMode::alwaysClean);
    m_cardMount.reset();
    setDisksMode(CleanMode::ignore);

    const std::shared_ptr<RunProgress> display = walkMountingCard();

    EXPECT_TRUE(fileExists(m_outer + "/.DS_Store")) << "OUTER's settings say not to clean it";
    EXPECT_FALSE(fileExists(m_card + "/.DS_Store"));
    EXPECT_FALSE(fileExists(m_card + "/Sub/.DS_Store"));
    const std::vector<std::string> lines = display->lines();
    EXPECT_EQ(linesEqualTo(lines, "Deleted .DS_Store on Card"), 1u);
    EXPECT_EQ(linesEqualTo(lines, "Deleted .DS_Store in Sub on Card"), 1u);
    EXPECT_TRUE(runEventLoopUntil([&] { return deletedOn(m_card) == 2; })) << deletedOn(m_card);
    EXPECT_EQ(deletedOn(m_outer), 0);
}
