#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZError.h"
#include "ZZFileChannel.h"
#include "ZipCleaner.h"
#include "ZipFixtures.h"

namespace
{
// Counts the steps of a rewrite and fails the one chosen.
struct FaultPlan
{
    int failAt = -1;
    int steps = 0;

    bool fails() { return steps++ == failAt; }
};

Error injectedFault()
{
    return Error::posix(EIO);
}

class FaultyOutput : public ZZChannelOutput
{
public:
    FaultyOutput(std::unique_ptr<ZZChannelOutput> output, FaultPlan &plan) : m_output(std::move(output)), m_plan(plan) {}

    std::uint64_t offset() const override { return m_output->offset(); }
    bool seekToOffset(std::uint64_t offset, Error *error) override
    {
        return m_plan.fails() ? zzFail(error, injectedFault()) : m_output->seekToOffset(offset, error);
    }
    using ZZChannelOutput::writeData;
    bool writeData(const ZZBytes &data, Error *error) override
    {
        return m_plan.fails() ? zzFail(error, injectedFault()) : m_output->writeData(data, error);
    }
    bool truncateAtOffset(std::uint64_t offset, Error *error) override
    {
        return m_plan.fails() ? zzFail(error, injectedFault()) : m_output->truncateAtOffset(offset, error);
    }
    bool close(Error *error) override
    {
        const bool closed = m_output->close(error);
        return m_plan.fails() ? zzFail(error, injectedFault()) : closed;
    }

private:
    std::unique_ptr<ZZChannelOutput> m_output;
    FaultPlan &m_plan;
};

class FaultyChannel : public ZZChannel
{
public:
    FaultyChannel(std::unique_ptr<ZZChannel> channel, FaultPlan &plan) : m_channel(std::move(channel)), m_plan(plan) {}

    std::unique_ptr<ZZChannel> temporaryChannel(Error *error) override
    {
        if (m_plan.fails()) {
            zzFail(error, injectedFault());
            return nullptr;
        }
        auto temporary = m_channel->temporaryChannel(error);
        return temporary ? std::make_unique<FaultyChannel>(std::move(temporary), m_plan) : nullptr;
    }
    bool replaceWithChannel(ZZChannel &channel, Error *error) override
    {
        if (m_plan.fails())
            return zzFail(error, injectedFault());
        return m_channel->replaceWithChannel(*static_cast<FaultyChannel &>(channel).m_channel, error);
    }
    void removeAsTemporary() override { m_channel->removeAsTemporary(); }
    std::optional<ZZBytes> newInput(Error *error) override { return m_channel->newInput(error); }
    std::unique_ptr<ZZChannelOutput> newOutput(Error *error) override
    {
        if (m_plan.fails()) {
            zzFail(error, injectedFault());
            return nullptr;
        }
        auto output = m_channel->newOutput(error);
        return output ? std::make_unique<FaultyOutput>(std::move(output), m_plan) : nullptr;
    }
    std::string URL() const override { return m_channel->URL(); }

private:
    std::unique_ptr<ZZChannel> m_channel;
    FaultPlan &m_plan;
};

std::string makeArchive(const TemporaryDirectory &folder)
{
    // Incompressible, so the rewritten archive stays large.
    std::mt19937 random(7);
    std::string big(300000, 'x');
    for (char &c : big)
        c = static_cast<char>(random());
    makeFiles(folder.path(), {{"src/a.txt", "alpha"}, {"src/._a.txt", "meta"}, {"src/big.bin", big},
                              {"src/d/.DS_Store", "ds"}, {"src/z.txt", "zulu"}});
    EXPECT_EQ(runCommand(folder.path() + "/src", "zip -q ../t.zip a.txt ._a.txt big.bin d/.DS_Store z.txt").status, 0);
    return folder.file("t.zip");
}

std::size_t filesIn(const std::string &folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}
}

TEST(ZZFaultInjection, EveryFailedStepLeavesTheOriginalByteIdentical)
{
    TemporaryDirectory folder;
    const std::string path = makeArchive(folder);
    const Data original = readBytes(path);
    const std::size_t files = filesIn(folder.path());
    // Removing the first entry rebuilds everything; removing a later one keeps a beginning.
    for (const std::string removed : {"a.txt", "d/.DS_Store"}) {
        bool succeeded = false;
        for (int failAt = 0; !succeeded && failAt < 200; ++failAt) {
            SCOPED_TRACE(removed + " step " + std::to_string(failAt));
            FaultPlan plan{failAt};
            Error error;
            auto archive = ZZArchive::initWithChannel(
                std::make_shared<FaultyChannel>(std::make_unique<ZZFileChannel>(path), plan), {}, &error);
            ASSERT_NE(archive, nullptr);
            std::vector<std::shared_ptr<ZZArchiveEntry>> kept;
            for (const auto &entry : archive->entries()) {
                if (entry->fileName() != removed)
                    kept.push_back(entry);
            }
            succeeded = archive->updateEntries(kept, &error);
            if (!succeeded) {
                EXPECT_EQ(error.domain(), ZZErrorDomain);
                EXPECT_GE(error.code(), ZZOpenWriteErrorCode);
                EXPECT_LE(error.code(), ZZReplaceWriteErrorCode);
                EXPECT_EQ(readBytes(path), original);
                EXPECT_EQ(filesIn(folder.path()), files) << "a temporary file was left behind";
            }
        }
        EXPECT_TRUE(succeeded);
        EXPECT_TRUE(unzipTestPasses(path));
        EXPECT_EQ(unzipNames(path).size(), 4u);
        writeBytes(path, original);
    }
}

TEST(ZZFaultInjection, FullDiskLeavesTheOriginalByteIdentical)
{
    TemporaryDirectory folder;
    const std::string path = makeArchive(folder);
    const Data original = readBytes(path);
    // A file-size limit below the new archive's size makes every write past it fail like a full disk.
    for (const rlim_t limit : {rlim_t(0), rlim_t(4096), rlim_t(200000)}) {
        SCOPED_TRACE(limit);
        struct rlimit previous;
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = previous;
        limited.rlim_cur = limit;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        std::vector<std::string> removed;
        Error error;
        const std::int64_t count = ZipCleaner().cleanZipAtURL(path, &removed, &error);
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        // Nothing was removed: the archive is whole.
        EXPECT_EQ(count, 0);
        EXPECT_TRUE(removed.empty());
        EXPECT_EQ(error.domain(), ZZErrorDomain);
        EXPECT_TRUE(error.code() >= ZZOpenWriteErrorCode && error.code() <= ZZReplaceWriteErrorCode) << error.code();
        EXPECT_EQ(readBytes(path), original);
        EXPECT_EQ(filesIn(folder.path()), 2u);
    }
}

TEST(ZZFaultInjection, ArchiveTruncatedUnderTheReaderGivesAnErrorNotASignal)
{
    TemporaryDirectory folder;
    const std::string path = folder.path() + "/cut.zip";
    // Stored entries a few pages long, so the cut leaves their data behind the file's new end.
    writeBytes(path, buildStoredArchive({{"first.bin", std::string(64 * 1024, 'a')},
                                         {"._first.bin", std::string(64 * 1024, 'b')},
                                         {"second.bin", std::string(64 * 1024, 'c')}}));
    for (const bool clean : {false, true}) {
        SCOPED_TRACE(clean ? "clean" : "read");
        Error error;
        auto archive = ZZArchive::initWithChannel(std::make_shared<ZZFileChannel>(path), {}, &error);
        ASSERT_NE(archive, nullptr);
        const Data original = readBytes(path);
        ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
        if (clean) {
            std::vector<std::shared_ptr<ZZArchiveEntry>> kept;
            for (const auto &entry : archive->entries()) {
                if (entry->fileName() != "._first.bin")
                    kept.push_back(entry);
            }
            EXPECT_FALSE(archive->updateEntries(kept, &error));
            EXPECT_EQ(error.domain(), ZZErrorDomain);
            // A rewrite that cannot read an entry fails as a write; the shortened file is left as it is.
            EXPECT_TRUE(error.code() >= ZZOpenWriteErrorCode && error.code() <= ZZReplaceWriteErrorCode) << error.code();
            EXPECT_EQ(std::filesystem::file_size(path), 4096u);
            EXPECT_EQ(filesIn(folder.path()), 1u) << "a temporary file was left behind";
        } else {
            for (const auto &entry : archive->entries()) {
                if (entry->fileName() == "first.bin")
                    continue;
                Error readError;
                EXPECT_FALSE(entry->newDataWithError(&readError)) << entry->fileName().value_or("");
                EXPECT_EQ(readError.domain(), ZZErrorDomain);
                EXPECT_TRUE(readError.code() == ZZOpenReadErrorCode || readError.code() == ZZCentralFileHeaderReadErrorCode
                            || readError.code() == ZZLocalFileReadErrorCode || readError.code() == ZZInvalidCRChecksum)
                    << readError.code();
            }
        }
        archive.reset();
        writeBytes(path, original);
    }
}
