#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <zlib.h>

#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZDataChannel.h"
#include "ZZDataConsumer.h"
#include "ZZError.h"
#include "ZZLittleEndian.h"
#include "ZZNewArchiveEntryWriter.h"
#include "ZZOldArchiveEntry.h"
#include "ZZOutputStream.h"
#include "ZipFixtures.h"

namespace
{
Data asData(const std::string &text)
{
    return Data(text.begin(), text.end());
}

std::string bigText()
{
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += std::to_string(i % 97) + ",";
    return text;
}

Date localDate(int year, int month, int day, int hour, int minute, int second)
{
    std::tm components {};
    components.tm_year = year - 1900;
    components.tm_mon = month - 1;
    components.tm_mday = day;
    components.tm_hour = hour;
    components.tm_min = minute;
    components.tm_sec = second;
    components.tm_isdst = -1;
    return Date{static_cast<double>(std::mktime(&components))};
}
}

TEST(ZZNewEntry, EveryKindOfNewEntryIsWrittenAndReadBack)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("new.zip");
    Error error;
    auto archive = ZZArchive::initWithURL(path, {{ZZOpenOptionsCreateIfMissingKey, Value(true)}}, &error);
    ASSERT_NE(archive, nullptr);
    const std::string text = bigText();
    std::vector<std::shared_ptr<ZZArchiveEntry>> entries = {
        ZZArchiveEntry::archiveEntryWithFileName("stored.txt", false, ZZArchiveEntry::DataBlock([&](Error *) {
            return std::optional<Data>(asData(text));
        })),
        ZZArchiveEntry::archiveEntryWithFileName("deflated.txt", true, ZZArchiveEntry::DataBlock([&](Error *) {
            return std::optional<Data>(asData(text));
        })),
        ZZArchiveEntry::archiveEntryWithFileName("streamed.txt", true,
                                                 ZZArchiveEntry::StreamBlock([&](ZZOutputStream &stream, Error *) {
            for (std::size_t at = 0; at < text.size(); at += 1000) {
                const std::size_t length = std::min<std::size_t>(1000, text.size() - at);
                if (stream.write(reinterpret_cast<const std::uint8_t *>(text.data() + at), length)
                    != static_cast<std::int64_t>(length))
                    return false;
            }
            return true;
        })),
        ZZArchiveEntry::archiveEntryWithFileName("stored-stream.txt", false,
                                                 ZZArchiveEntry::StreamBlock([&](ZZOutputStream &stream, Error *) {
            return stream.write(reinterpret_cast<const std::uint8_t *>(text.data()), text.size()) > 0;
        })),
        ZZArchiveEntry::archiveEntryWithFileName("consumed.txt", true,
                                                 ZZArchiveEntry::DataConsumerBlock([&](ZZDataConsumer &consumer, Error *) {
            return consumer.putBytes(text.data(), text.size()) == static_cast<std::int64_t>(text.size());
        })),
        ZZArchiveEntry::archiveEntryWithDirectoryName("folder/"),
        ZZArchiveEntry::archiveEntryWithFileName("folder/Ünïcödé ✓.txt", false, ZZArchiveEntry::DataBlock([](Error *) {
            return std::optional<Data>(asData("unicode"));
        })),
    };
    ASSERT_TRUE(archive->updateEntries(entries, &error)) << error.localizedDescription();
    EXPECT_TRUE(unzipTestPasses(path));
    EXPECT_EQ(unzipNames(path), (std::vector<std::string>{"stored.txt", "deflated.txt", "streamed.txt",
                                                          "stored-stream.txt", "consumed.txt", "folder/",
                                                          "folder/Ünïcödé ✓.txt"}));
    ASSERT_EQ(archive->entries().size(), entries.size());
    for (const auto &entry : archive->entries()) {
        SCOPED_TRACE(*entry->fileName());
        EXPECT_TRUE(entry->check(&error)) << error.localizedDescription();
        const auto data = entry->newDataWithError(&error);
        ASSERT_TRUE(data) << error.localizedDescription();
        if (entry->fileName() == "folder/")
            EXPECT_TRUE(data->empty());
        else if (entry->fileName() == "folder/Ünïcödé ✓.txt")
            EXPECT_EQ(*data, asData("unicode"));
        else
            EXPECT_EQ(*data, asData(text));
    }
    EXPECT_EQ(archive->entries()[5]->fileMode(), 040755);
    EXPECT_EQ(archive->entries()[0]->fileMode(), 0100644);
    EXPECT_FALSE(archive->entries()[0]->compressed());
    EXPECT_TRUE(archive->entries()[1]->compressed());

    // A failing block fails the update with code 5 and its index; the archive stays as it was.
    const Data before = readBytes(path);
    auto failing = archive->entries();
    failing.push_back(ZZArchiveEntry::archiveEntryWithFileName("bad", true, ZZArchiveEntry::DataBlock([](Error *blockError) {
        *blockError = Error::posix(EACCES);
        return std::optional<Data>();
    })));
    EXPECT_FALSE(archive->updateEntries(failing, &error));
    EXPECT_EQ(error.code(), ZZLocalFileWriteErrorCode);
    EXPECT_EQ(zzEntryIndex(error), 7);
    EXPECT_EQ(zzUnderlyingError(error)->code(), EACCES);
    EXPECT_EQ(readBytes(path), before);
}

TEST(ZZNewEntry, HeaderFieldsFollowTheLevelDateAndName)
{
    const auto block = ZZArchiveEntry::DataBlock([](Error *) { return std::optional<Data>(asData("abc")); });
    struct Case
    {
        std::int64_t level;
        std::uint16_t flags;
        std::uint16_t method;
    };
    for (const Case &c : {Case{0, 0x0808, 0}, Case{-1, 0x0808, 8}, Case{1, 0x080E, 8}, Case{3, 0x080C, 8},
                          Case{6, 0x0808, 8}, Case{9, 0x080A, 8}}) {
        SCOPED_TRACE(c.level);
        ZZNewArchiveEntryWriter writer("n", 0100644, localDate(2107, 12, 31, 23, 59, 59), c.level, block, {}, {});
        const Data &central = writer.centralFileHeader();
        const Data &local = writer.localFileHeader();
        EXPECT_EQ(zzRead16(central.data() + 8), c.flags);
        EXPECT_EQ(zzRead16(local.data() + 6), c.flags);
        EXPECT_EQ(zzRead16(central.data() + 10), c.method);
        EXPECT_EQ(zzRead16(central.data() + 4), 0x031E);
        EXPECT_EQ(zzRead16(central.data() + 6), 10);
        const std::uint16_t date = zzRead16(central.data() + 14);
        const std::uint16_t time = zzRead16(central.data() + 12);
        EXPECT_EQ(date >> 9, 127);
        EXPECT_EQ(time & 0x1F, 30);
        EXPECT_EQ(zzRead32(central.data() + 38), 0100644u << 16);
    }
    const std::string name = "Ärger/ß.txt";
    ZZNewArchiveEntryWriter writer(name, 0100644, Date::now(), 0, block, {}, {});
    EXPECT_EQ(zzRead16(writer.centralFileHeader().data() + 28), name.size());
    EXPECT_EQ(std::memcmp(writer.centralFileHeader().data() + 46, name.data(), name.size()), 0);

    // A stored entry's descriptor repeats the central CRC and sizes; a folder's descriptor is zeros.
    ZZDataChannel channel;
    Error error;
    auto output = channel.newOutput(&error);
    ASSERT_TRUE(writer.writeLocalFileToChannelOutput(*output, 0, &error));
    const Data &written = channel.data();
    ASSERT_EQ(written.size(), 30 + name.size() + 3 + 16);
    const std::uint8_t *descriptor = written.data() + written.size() - 16;
    EXPECT_EQ(zzRead32(descriptor), 0x08074b50u);
    EXPECT_EQ(zzRead32(descriptor + 4), static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef *>("abc"), 3)));
    EXPECT_EQ(zzRead32(descriptor + 4), zzRead32(writer.centralFileHeader().data() + 16));
    EXPECT_EQ(zzRead32(descriptor + 8), 3u);
    EXPECT_EQ(zzRead32(descriptor + 12), 3u);

    ZZDataChannel folderChannel;
    auto folderOutput = folderChannel.newOutput(&error);
    ZZNewArchiveEntryWriter folderWriter("d/", 040755, Date::now(), 0, {}, {}, {});
    ASSERT_TRUE(folderWriter.writeLocalFileToChannelOutput(*folderOutput, 0, &error));
    const Data &folderBytes = folderChannel.data();
    ASSERT_EQ(folderBytes.size(), 30u + 2 + 16);
    EXPECT_EQ(Data(folderBytes.end() - 12, folderBytes.end()), Data(12, 0));
}

TEST(ZZNewEntry, CountsThatDoNotFitAreRefusedNotCut)
{
    Error error;
    auto archive = ZZArchive::archiveWithData(buildStoredArchive({{"a", "1"}}), &error);
    ASSERT_NE(archive, nullptr);
    const Data before(archive->contents().data, archive->contents().data + archive->contents().size);
    std::vector<std::shared_ptr<ZZArchiveEntry>> entries(65535, ZZArchiveEntry::archiveEntryWithDirectoryName("d/"));
    EXPECT_FALSE(archive->updateEntries(entries, &error));
    EXPECT_EQ(error.code(), ZZEndOfCentralDirectoryWriteErrorCode);
    EXPECT_EQ(Data(archive->contents().data, archive->contents().data + archive->contents().size), before);
    entries.pop_back();
    EXPECT_TRUE(archive->updateEntries(entries, &error)) << error.localizedDescription();
    EXPECT_EQ(archive->entries().size(), 65534u);

    const std::string longName(70000, 'n');
    EXPECT_FALSE(archive->updateEntries({ZZArchiveEntry::archiveEntryWithDirectoryName(longName)}, &error));
    EXPECT_EQ(error.code(), ZZLocalFileWriteErrorCode);
}
