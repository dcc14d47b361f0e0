// Tarnwick's own archive rewrites, seen by the real background watcher.
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <sys/stat.h>

#include "FileSystemEventStream.h"
#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZFileChannel.h"
#include "ZipCleaner.h"
#include "ZipFixtures.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace
{
class ArchiveRewriteUnderTheWatcher : public testing::Test
{
protected:
    void SetUp() override
    {
        char resolved[PATH_MAX];
        ASSERT_TRUE(realpath(m_folder.path().c_str(), resolved));
        m_root = std::string(resolved) + "/root";
        fs::create_directories(m_root + "/sentinel");
    }

    void TearDown() override { ZZFileChannel::setExchangeAllowedForTesting(true); }

    // An archive made by zip, with one metadata entry, put in the watched folder.
    void makeArchive(const std::string &name)
    {
        TemporaryDirectory source;
        makeFiles(source.path(), {{"a.txt", "alpha"}, {".DS_Store", "desktop services"}});
        ASSERT_EQ(runCommand(source.path(), "zip -q t.zip a.txt .DS_Store").status, 0);
        fs::copy_file(source.file("t.zip"), m_root + "/" + name);
    }

    void start()
    {
        m_stream = std::make_unique<FileSystemEventStream>(300ms, [this](const std::vector<std::string> &folders) {
            m_batches.push_back(folders);
        });
        ASSERT_TRUE(m_stream->start());
        m_stream->setRoots({m_root});
    }

    // Changes a folder nobody else touches and waits until it is reported: every event
    // before it has been read by then. Answers every folder reported.
    std::set<std::string> reportedUpToSentinel()
    {
        m_batches.clear();
        const std::string sentinel = m_root + "/sentinel";
        writeFile(sentinel + "/touch-" + std::to_string(++m_touches), "x");
        std::set<std::string> folders;
        EXPECT_TRUE(runEventLoopUntil(
            [&] {
                for (const std::vector<std::string> &batch : m_batches)
                    folders.insert(batch.begin(), batch.end());
                return folders.contains(sentinel);
            },
            20s));
        return folders;
    }

    TemporaryDirectory m_folder;
    std::string m_root;
    std::unique_ptr<FileSystemEventStream> m_stream;
    std::vector<std::vector<std::string>> m_batches;
    int m_touches = 0;
};
}

TEST_F(ArchiveRewriteUnderTheWatcher, TarnwicksOwnRewriteMakesNoBatchOnEitherWayOfCommitting)
{
    makeArchive("exchanged.zip");
    makeArchive("renamed.zip");
    // A copy a killed rewrite left behind, which the next committed rewrite sweeps away.
    const std::string stale = m_root + "/.tarnwick-old.zip.K1lled.tarnwick-tmp";
    writeFile(stale, "left behind");
    const struct timespec twoHoursAgo[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, stale.c_str(), twoHoursAgo, 0), 0);
    start();
    const std::set<std::string> sentinelOnly = {m_root + "/sentinel"};
    ASSERT_EQ(reportedUpToSentinel(), sentinelOnly);

    for (const bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "names exchanged" : "plain rename, where names cannot be exchanged");
        ZZFileChannel::setExchangeAllowedForTesting(exchange);
        const std::string path = m_root + (exchange ? "/exchanged.zip" : "/renamed.zip");
        std::vector<std::string> removed;
        Error error;
        EXPECT_EQ(ZipCleaner().cleanZipAtURL(path, &removed, &error), 1) << error.localizedDescription();
        EXPECT_FALSE(fileExists(stale)) << "swept by the committed rewrite";
        EXPECT_EQ(reportedUpToSentinel(), sentinelOnly);
    }

    // A new archive is put in place with a rename that replaces nothing.
    Error error;
    auto created = ZZArchive::initWithURL(m_root + "/new.zip", {{ZZOpenOptionsCreateIfMissingKey, Value(true)}}, &error);
    ASSERT_NE(created, nullptr);
    ASSERT_TRUE(created->updateEntries(
        {ZZArchiveEntry::archiveEntryWithFileName("b.txt", true, ZZArchiveEntry::DataBlock([](Error *) {
                                                      return std::optional<Data>(Data{'b'});
                                                  }))},
        &error))
        << error.localizedDescription();
    EXPECT_EQ(reportedUpToSentinel(), sentinelOnly);

    // What another program does to the same archive right after is still reported.
    writeFile(m_root + "/sentinel/other.zip", "another archive");
    ASSERT_EQ(std::rename((m_root + "/sentinel/other.zip").c_str(), (m_root + "/exchanged.zip").c_str()), 0);
    EXPECT_TRUE(reportedUpToSentinel().contains(m_root));
}
