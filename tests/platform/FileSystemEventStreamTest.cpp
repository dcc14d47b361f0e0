#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "AppleDoubleTestData.h"
#include "ExtendedAttributes.h"
#include "FileOperations.h"
#include "FileSystemEventStream.h"
#include "ScopedMount.h"
#include "SystemLog.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace
{
std::string realPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

class FileSystemEventStreamTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_root = realPath(m_folder.path()) + "/root";
        fs::create_directories(m_root);
    }

    void start(std::chrono::milliseconds latency, const std::vector<std::string> &excluded = {})
    {
        m_stream = std::make_unique<FileSystemEventStream>(latency, [this](const std::vector<std::string> &folders) {
            m_batches.push_back(folders);
        });
        ASSERT_TRUE(m_stream->start());
        m_stream->setRoots({m_root}, excluded);
    }

    std::string at(const std::string &relative) const { return m_root + "/" + relative; }

    bool reported(const std::string &folder) const
    {
        return std::any_of(m_batches.begin(), m_batches.end(), [&folder](const std::vector<std::string> &batch) {
            return std::find(batch.begin(), batch.end(), folder) != batch.end();
        });
    }

    std::set<std::string> everyFolderReported() const
    {
        std::set<std::string> folders;
        for (const std::vector<std::string> &batch : m_batches)
            folders.insert(batch.begin(), batch.end());
        return folders;
    }

    // Changes a folder nobody else touches and waits for it to be reported: everything
    // made before it has been read by then.
    void changeSentinelAndWait()
    {
        const std::string sentinel = at("sentinel");
        writeFile(sentinel + "/touch-" + std::to_string(++m_sentinelTouches), "x");
        ASSERT_TRUE(runEventLoopUntil([&] { return reported(sentinel); }, 20s));
    }

    TemporaryDirectory m_folder;
    std::string m_root;
    std::unique_ptr<FileSystemEventStream> m_stream;
    std::vector<std::vector<std::string>> m_batches;
    int m_sentinelTouches = 0;
};
}

TEST_F(FileSystemEventStreamTest, WatchesTheWholeTreeAndNewFoldersButNeverThroughLinks)
{
    fs::create_directories(at("old/inner"));
    TemporaryDirectory outside;
    fs::create_directory_symlink(outside.path(), at("link"));
    start(200ms);

    fs::create_directories(at("new/deeper/deepest"));
    writeFile(at("new/deeper/deepest/file"), "x");
    writeFile(at("old/inner/file"), "x");
    writeFile(outside.file("reached through the link"), "x");
    ASSERT_TRUE(runEventLoopUntil([&] { return reported(at("new/deeper/deepest")) && reported(at("old/inner")); }, 20s));
    EXPECT_TRUE(reported(m_root));
    EXPECT_TRUE(reported(at("new")));
    EXPECT_TRUE(reported(at("new/deeper")));
    EXPECT_FALSE(reported(at("old"))) << "nothing changed in it";
    EXPECT_FALSE(reported(at("link")));
    for (const std::vector<std::string> &batch : m_batches)
        EXPECT_EQ(std::set<std::string>(batch.begin(), batch.end()).size(), batch.size()) << "each folder once a batch";

    // The new folders are watched from now on, under the names they get.
    m_batches.clear();
    fs::rename(at("new/deeper"), at("moved"));
    writeFile(at("moved/deepest/later"), "x");
    ASSERT_TRUE(runEventLoopUntil([&] { return reported(at("moved/deepest")); }, 20s));
    EXPECT_FALSE(reported(at("new/deeper/deepest")));

    const std::size_t watched = m_stream->watchedFolderCount();
    fs::remove_all(at("moved"));
    ASSERT_TRUE(runEventLoopUntil([&] { return m_stream->watchedFolderCount() == watched - 2; }, 20s))
        << "the watches of removed folders are dropped";
}

TEST_F(FileSystemEventStreamTest, ABatchClosesAFixedTimeAfterItsFirstEvent)
{
    fs::create_directories(at("busy"));
    start(4000ms);

    // 200 creations over about two seconds, well inside one window.
    QElapsedTimer clock;
    clock.start();
    for (int index = 0; index < 200; ++index) {
        while (clock.elapsed() < index * 10)
            runEventLoopFor(1ms);
        writeFile(at("busy/file-" + std::to_string(index)), "x");
    }
    ASSERT_TRUE(runEventLoopUntil([&] { return !m_batches.empty(); }, 20s));
    EXPECT_EQ(m_batches, (std::vector<std::vector<std::string>>{{at("busy")}}));

    // Constant writes do not hold a batch back: with a short window, batches arrive while
    // the writing goes on.
    m_stream.reset();
    m_batches.clear();
    start(300ms);
    clock.restart();
    for (int index = 0; clock.elapsed() < 2500; ++index) {
        writeFile(at("busy/more-" + std::to_string(index)), "x");
        runEventLoopFor(10ms);
    }
    EXPECT_GE(m_batches.size(), 2u);
}

TEST_F(FileSystemEventStreamTest, TarnwicksOwnDeletionsAndAttributeRemovalsMakeNoBatch)
{
    fs::create_directories(at("sentinel"));
    fs::create_directories(at("own/tree/deeper"));
    writeFile(at("own/tree/deeper/file"), "x");
    writeFile(at("own/tree/file"), "x");
    writeFile(at("own/single"), "x");
    writeFile(at("own/tagged"), "x");
    const bool attributes = lsetxattr(at("own/tagged").c_str(), "user.com.apple.FinderInfo", "x", 1, 0) == 0;
    fs::create_directories(at("other"));
    writeFile(at("other/gone"), "x");
    writeFile(at("other/again"), "x");
    start(300ms);

    FileOperations::removeItem(at("own/tree"));
    FileOperations::removeItem(at("own/single"));
    if (attributes)
        ExtendedAttributes::remove(at("own/tagged"), "com.apple.FinderInfo");
    changeSentinelAndWait();
    EXPECT_EQ(everyFolderReported(), std::set<std::string>{at("sentinel")});

    // What others do is reported, also right after Tarnwick's own change of the same item.
    m_batches.clear();
    fs::remove(at("other/gone"));
    FileOperations::removeItem(at("other/again"));
    writeFile(at("other/again"), "back");
    changeSentinelAndWait();
    EXPECT_TRUE(reported(at("other")));
}

TEST_F(FileSystemEventStreamTest, ACompanionRewrittenByTarnwickMakesNoBatch)
{
    if (!isRoot())
        GTEST_SKIP() << "a volume without attributes needs a ramfs mount (run as root)";
    fs::create_directories(at("sentinel"));
    fs::create_directories(at("disk"));
    ScopedMount disk("ramfs", at("disk"));
    ASSERT_TRUE(disk.isMounted()) << disk.failure();
    writeFile(at("disk/Report.txt"), "report");
    writeFile(at("disk/._Report.txt"),
              AppleDoubleTestData::companion(AppleDoubleTestData::finderInfo("TEXT", "ttxt", 0),
                                             {{"com.apple.quarantine", "q"}, {"com.apple.lastuseddate#PS", "d"}}));
    // Each mount is its own root.
    m_stream = std::make_unique<FileSystemEventStream>(300ms, [this](const std::vector<std::string> &folders) {
        m_batches.push_back(folders);
    });
    ASSERT_TRUE(m_stream->start());
    m_stream->setRoots({m_root, at("disk")});

    ExtendedAttributes::remove(at("disk/Report.txt"), "com.apple.quarantine");
    ASSERT_TRUE(fileExists(at("disk/._Report.txt"))) << "rewritten, not deleted";
    ExtendedAttributes::remove(at("disk/Report.txt"), "com.apple.lastuseddate#PS");
    ExtendedAttributes::remove(at("disk/Report.txt"), "com.apple.FinderInfo");
    ASSERT_FALSE(fileExists(at("disk/._Report.txt"))) << "deleted with its last attribute";
    changeSentinelAndWait();
    EXPECT_EQ(everyFolderReported(), std::set<std::string>{at("sentinel")});
}

TEST_F(FileSystemEventStreamTest, RootsCanBeReplacedAndFoldersLeftOut)
{
    fs::create_directories(at("sentinel"));
    fs::create_directories(at("kept/inner"));
    fs::create_directories(at("excluded/deeper"));
    fs::create_directories(at("excluded/nested root"));
    start(300ms, {at("excluded")});
    m_stream->setRoots({m_root, at("excluded/nested root")}, {at("excluded")});

    writeFile(at("excluded/deeper/file"), "x");
    writeFile(at("excluded/file"), "x");
    writeFile(at("excluded/nested root/file"), "x");
    changeSentinelAndWait();
    ASSERT_TRUE(runEventLoopUntil([&] { return reported(at("excluded/nested root")); }, 20s));
    EXPECT_FALSE(reported(at("excluded")));
    EXPECT_FALSE(reported(at("excluded/deeper")));

    // Without the exclusion its folders are watched; a root no longer given is not.
    m_stream->setRoots({at("excluded"), at("sentinel")});
    EXPECT_EQ(m_stream->roots(), (std::vector<std::string>{at("excluded"), at("sentinel")}));
    m_batches.clear();
    writeFile(at("kept/inner/file"), "x");
    writeFile(at("excluded/deeper/again"), "x");
    changeSentinelAndWait();
    ASSERT_TRUE(runEventLoopUntil([&] { return reported(at("excluded/deeper")); }, 20s));
    EXPECT_FALSE(reported(at("kept/inner")));
}

TEST_F(FileSystemEventStreamTest, ARootInsideAFolderLeftOutLaterStaysWatchedUnderItsPath)
{
    fs::create_directories(at("sentinel"));
    fs::create_directories(at("mid/nested/deep"));
    start(300ms);
    m_stream->setRoots({m_root, at("mid/nested")});
    EXPECT_EQ(m_stream->watchedFolderCount(), 5u);

    m_stream->setRoots({m_root, at("mid/nested")}, {at("mid")});
    EXPECT_EQ(m_stream->watchedFolderCount(), 4u) << "only the folder left out loses its watch";
    writeFile(at("mid/file"), "x");
    writeFile(at("mid/nested/deep/file"), "x");
    changeSentinelAndWait();
    ASSERT_TRUE(runEventLoopUntil([&] { return reported(at("mid/nested/deep")); }, 20s));
    EXPECT_FALSE(reported(at("mid")));

    // Moved into a watched folder, it is watched under its new name only.
    m_batches.clear();
    fs::rename(at("mid/nested"), at("sentinel/moved"));
    ASSERT_TRUE(runEventLoopUntil([&] { return reported(at("sentinel/moved/deep")); }, 20s));
    EXPECT_EQ(m_stream->watchedFolderCount(), 4u);
    m_batches.clear();
    writeFile(at("sentinel/moved/deep/later"), "x");
    ASSERT_TRUE(runEventLoopUntil([&] { return reported(at("sentinel/moved/deep")); }, 20s));
    EXPECT_FALSE(reported(at("mid/nested/deep")));
}

TEST_F(FileSystemEventStreamTest, ARootBelowAFolderLeftOutGoesWithItWhenThatFolderMovesAway)
{
    fs::create_directories(at("sentinel"));
    fs::create_directories(at("out/inner root/deeper"));
    TemporaryDirectory elsewhere;
    start(300ms, {at("out")});
    m_stream->setRoots({m_root, at("out/inner root")}, {at("out")});
    ASSERT_EQ(m_stream->watchedFolderCount(), 4u);

    fs::rename(at("out"), elsewhere.file("out"));
    ASSERT_TRUE(runEventLoopUntil([&] { return m_stream->watchedFolderCount() == 2u; }, 20s))
        << "the watches below the moved folder's path go";
    writeFile(elsewhere.file("out/inner root/deeper/file"), "x");
    changeSentinelAndWait();
    EXPECT_FALSE(reported(at("out/inner root/deeper")));
    EXPECT_FALSE(reported(at("out/inner root")));
}

TEST_F(FileSystemEventStreamTest, AKeptFolderIsKnownByItselfNotByWhatComesToBeAtItsPath)
{
    const std::string kept = at("Parent/Kept");
    for (const char *folder : {"sub", "other"})
        fs::create_directories(kept + "/" + folder);
    fs::create_directories(at("sentinel"));
    start(200ms);
    m_stream->setRoots({kept, at("sentinel")});
    const auto watched = [&] {
        const std::vector<std::string> roots = m_stream->roots();
        return std::find(roots.begin(), roots.end(), kept) != roots.end();
    };
    const auto displaced = [&] {
        const std::vector<WatchedRoot> roots = m_stream->displacedRoots();
        return std::any_of(roots.begin(), roots.end(), [&](const WatchedRoot &root) { return root.path == kept; });
    };
    ASSERT_TRUE(watched());

    // A folder above it renamed and another folder put at its path: neither the moved folder's
    // changes nor those of the folder now at the path are reported under the path.
    fs::rename(at("Parent"), at("Parent.moved"));
    fs::create_directories(kept + "/sub");
    ASSERT_TRUE(runEventLoopUntil(displaced, 20s));
    EXPECT_FALSE(watched());
    m_batches.clear();
    writeFile(at("Parent.moved/Kept/sub/changed"), "x");
    writeFile(kept + "/sub/changed", "x");
    changeSentinelAndWait();
    EXPECT_FALSE(reported(kept + "/sub"));
    EXPECT_FALSE(reported(kept));

    // Its own folder back at the path: watched again, what it holds reported.
    fs::rename(at("Parent"), at("Parent.other"));
    fs::rename(at("Parent.moved"), at("Parent"));
    ASSERT_TRUE(runEventLoopUntil([&] { return watched() && reported(kept + "/sub") && reported(kept + "/other"); }, 20s));
    EXPECT_FALSE(displaced());

    // Moved away and back.
    fs::rename(kept, at("Parent/Away"));
    ASSERT_TRUE(runEventLoopUntil(displaced, 20s));
    fs::rename(at("Parent/Away"), kept);
    ASSERT_TRUE(runEventLoopUntil(watched, 20s));
    m_batches.clear();
    writeFile(kept + "/other/back", "x");
    EXPECT_TRUE(runEventLoopUntil([&] { return reported(kept + "/other"); }, 20s));

    // Moved away and removed there: a folder made at the path is a new one to keep clean.
    fs::rename(kept, at("Parent/Away"));
    ASSERT_TRUE(runEventLoopUntil(displaced, 20s));
    fs::create_directories(kept + "/new");
    fs::remove_all(at("Parent/Away"));
    ASSERT_TRUE(runEventLoopUntil(watched, 20s));
    writeFile(kept + "/new/changed", "x");
    EXPECT_TRUE(runEventLoopUntil([&] { return reported(kept + "/new"); }, 20s));

    // Removed and made again (the new folder may well get the inode the old one had).
    fs::remove_all(kept);
    fs::create_directories(kept + "/again");
    writeFile(kept + "/again/changed", "x");
    EXPECT_TRUE(runEventLoopUntil([&] { return reported(kept + "/again"); }, 20s));
}

TEST_F(FileSystemEventStreamTest, AfterTheQueueOverflowedEveryFolderIsWatchedAgainWhereItIsNow)
{
    constexpr int folders = 200;
    for (int index = 0; index < folders; ++index)
        fs::create_directories(at("storm/d" + std::to_string(index) + "/sub"));
    std::vector<std::string> log;
    const int sink = SystemLog::addSink([&log](const std::string &line) { log.push_back(line); });
    start(300ms);

    // Renames far faster than the stream can follow, while it reads: the queue overflows again
    // and again, and events that named folders where they no longer are get lost.
    // The renamers stop on their own clock: while they outpace it, the stream's event loop may
    // not come back to this test at all.
    const auto end = std::chrono::steady_clock::now() + 3s;
    std::atomic<int> running{4};
    std::vector<std::thread> renamers;
    for (int thread = 0; thread < 4; ++thread) {
        renamers.emplace_back([&, thread] {
            for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
                for (int index = thread; index < folders; index += 4) {
                    const std::string name = at("storm/d" + std::to_string(index));
                    const bool away = round % 2 == 0;
                    rename((away ? name : name + ".x").c_str(), (away ? name + ".x" : name).c_str());
                }
            }
            --running;
        });
    }
    runEventLoopUntil([&] { return running == 0; }, 60s);
    for (std::thread &renamer : renamers)
        renamer.join();
    std::vector<std::string> now;
    for (int index = 0; index < folders; ++index) {
        const std::string name = at("storm/d" + std::to_string(index));
        now.push_back(fs::exists(name) ? name : name + ".x");
    }
    // Every folder is watched afresh, and so reported, where it is now.
    ASSERT_TRUE(runEventLoopUntil([&] {
        const std::set<std::string> reportedNow = everyFolderReported();
        return std::all_of(now.begin(), now.end(), [&](const std::string &folder) {
            return reportedNow.contains(folder + "/sub");
        });
    }, 30s));
    SystemLog::removeSink(sink);
    ASSERT_GE(std::count_if(log.begin(), log.end(),
                            [](const std::string &line) { return line.find("event queue overflowed") != std::string::npos; }),
              1)
        << "the queue must have overflowed for this test to tell anything";

    // And changes below each of them are reported from then on.
    runEventLoopFor(500ms);
    m_batches.clear();
    for (const std::string &folder : now)
        writeFile(folder + "/sub/changed", "x");
    EXPECT_TRUE(runEventLoopUntil([&] {
        const std::set<std::string> reportedNow = everyFolderReported();
        return std::all_of(now.begin(), now.end(), [&](const std::string &folder) {
            return reportedNow.contains(folder + "/sub");
        });
    }, 30s));
}

TEST_F(FileSystemEventStreamTest, AnOverflowReportsEveryWatchedFolder)
{
    std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
    long limit = 0;
    limitFile >> limit;
    if (limit <= 0 || limit > 200000)
        GTEST_SKIP() << "the kernel's event queue is too large to fill (" << limit << ")";
    fs::create_directories(at("a"));
    fs::create_directories(at("b/c"));
    fs::create_directories(at("flood"));
    std::vector<std::string> log;
    const int sink = SystemLog::addSink([&log](const std::string &line) { log.push_back(line); });
    start(300ms);

    // The stream reads nothing while the event loop does not run: the kernel's queue overflows.
    for (long index = 0; index < limit / 2 + 1000; ++index) {
        const int fd = open(at("flood/" + std::to_string(index)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    const std::set<std::string> every{m_root, at("a"), at("b"), at("b/c"), at("flood")};
    EXPECT_TRUE(runEventLoopUntil([&] { return everyFolderReported() == every; }, 20s));
    SystemLog::removeSink(sink);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string &line) { return line.find("event queue overflowed") != std::string::npos; }),
              1);
}
