#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZError.h"
#include "ZZOldArchiveEntry.h"
#include "ZipFixtures.h"

namespace
{
std::vector<std::string> namesOf(const ZZArchive &archive)
{
    std::vector<std::string> names;
    for (const auto &entry : archive.entries())
        names.push_back(entry->fileName().value_or("<none>"));
    return names;
}

std::int64_t loadErrorCode(const Data &bytes)
{
    Error error;
    auto archive = ZZArchive::archiveWithData(bytes, &error);
    EXPECT_EQ(archive, nullptr);
    EXPECT_EQ(error.domain(), ZZErrorDomain);
    return error.code();
}

Data threeEntryArchive(const std::string &comment = {})
{
    return buildStoredArchive({{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}}, comment);
}
}

TEST(ZZArchiveLoad, EndRecordMustBeFoundAndExact)
{
    // Shorter than an end record.
    EXPECT_EQ(loadErrorCode(Data(21, 0)), ZZEndOfCentralDirectoryReadErrorCode);

    // The record lies further from the end than the longest comment reaches.
    Data far = threeEntryArchive();
    far.resize(far.size() + 65536, 'x');
    EXPECT_EQ(loadErrorCode(far), ZZEndOfCentralDirectoryReadErrorCode);

    // Bytes after the comment: the comment length no longer reaches the end exactly.
    Data trailing = threeEntryArchive("note");
    trailing.push_back('!');
    EXPECT_EQ(loadErrorCode(trailing), ZZEndOfCentralDirectoryReadErrorCode);

    // The last signature match lies inside the comment of a valid record; only that one is tried.
    const std::string trap = std::string("PK\x05\x06", 4) + std::string(18, '\0') + "z";
    EXPECT_EQ(loadErrorCode(threeEntryArchive(trap)), ZZEndOfCentralDirectoryReadErrorCode);

    Error error;
    auto commented = ZZArchive::archiveWithData(threeEntryArchive("a comment"), &error);
    ASSERT_NE(commented, nullptr) << error.localizedDescription();
    EXPECT_EQ(namesOf(*commented), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST(ZZArchiveLoad, EmptyAndMissingArchives)
{
    Error error;
    auto empty = ZZArchive::archiveWithData(buildStoredArchive({}), &error);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->entries().empty());

    TemporaryDirectory folder;
    auto missing = ZZArchive::archiveWithURL(folder.file("none.zip"), &error);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(error.code(), ZZOpenReadErrorCode);
    ASSERT_TRUE(zzUnderlyingError(error));
    EXPECT_EQ(zzUnderlyingError(error)->code(), ZZFileReadNoSuchFileError);

    auto created = ZZArchive::initWithURL(folder.file("none.zip"), {{ZZOpenOptionsCreateIfMissingKey, Value(true)}}, &error);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(created->entries().empty());
    EXPECT_FALSE(fileExists(folder.file("none.zip")));

    // An empty buffer opens like a missing file.
    EXPECT_EQ(loadErrorCode(Data{}), ZZOpenReadErrorCode);

    // A folder or a FIFO in the archive's place is a read error, not a crash or a hang.
    auto folderArchive = ZZArchive::archiveWithURL(folder.path(), &error);
    EXPECT_EQ(folderArchive, nullptr);
    EXPECT_EQ(error.code(), ZZOpenReadErrorCode);
    ASSERT_EQ(::mkfifo(folder.file("fifo.zip").c_str(), 0600), 0);
    EXPECT_EQ(ZZArchive::archiveWithURL(folder.file("fifo.zip"), &error), nullptr);
    EXPECT_EQ(error.code(), ZZOpenReadErrorCode);
}

TEST(ZZArchiveLoad, BadCentralHeadersNameTheirIndex)
{
    const Data good = threeEntryArchive();
    Error error;
    auto archive = ZZArchive::archiveWithData(good, &error);
    ASSERT_NE(archive, nullptr);
    const std::uint64_t endRecord = good.size() - 22;
    const std::uint64_t thirdCentral = endRecord - (46 + 5);

    // The last header's comment would run into the end record.
    Data intoEnd = good;
    intoEnd[thirdCentral + 32] = 1;
    EXPECT_EQ(loadErrorCode(intoEnd), ZZCentralFileHeaderReadErrorCode);
    ZZArchive::archiveWithData(intoEnd, &error);
    EXPECT_EQ(zzEntryIndex(error), 2);

    // A damaged signature.
    Data badSignature = good;
    badSignature[thirdCentral] = 'Q';
    EXPECT_EQ(loadErrorCode(badSignature), ZZCentralFileHeaderReadErrorCode);

    // A local header offset inside the central directory.
    Data badOffset = good;
    badOffset[thirdCentral + 42] = 0xF0;
    EXPECT_EQ(loadErrorCode(badOffset), ZZCentralFileHeaderReadErrorCode);
    ZZArchive::archiveWithData(badOffset, &error);
    EXPECT_EQ(zzEntryIndex(error), 2);
}

TEST(ZZArchiveLoad, Zip64ArchivesAreRefusedNotHalfRead)
{
    Data bytes = threeEntryArchive();
    // Saturate the central directory's size and put a zip64 locator before the end record.
    Data zip64(bytes.begin(), bytes.end() - 22);
    const Data locator = {0x50, 0x4b, 0x06, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    zip64.insert(zip64.end(), locator.begin(), locator.end());
    zip64.insert(zip64.end(), bytes.end() - 22, bytes.end());
    Error error;
    EXPECT_NE(ZZArchive::archiveWithData(zip64, &error), nullptr) << "a locator alone is harmless";
    for (int i = 10; i > 6; --i)
        zip64[zip64.size() - i] = 0xFF;
    EXPECT_EQ(loadErrorCode(zip64), ZZEndOfCentralDirectoryReadErrorCode);

    // An entry whose sizes live in a zip64 extra field is refused too.
    Data wideEntry = bytes;
    const std::uint64_t firstCentral = bytes.size() - 22 - 3 * 46 - 15;
    for (int i = 20; i < 28; ++i)
        wideEntry[firstCentral + i] = 0xFF;
    EXPECT_EQ(loadErrorCode(wideEntry), ZZCentralFileHeaderReadErrorCode);
}

TEST(ZZArchiveLoad, DataDescriptorsAreSizedExactly)
{
    for (const int descriptor : {12, 16, 20, 24}) {
        SCOPED_TRACE(descriptor);
        const Data bytes = buildStoredArchive({{"one", "first entry", descriptor}, {"two", "second", descriptor},
                                               {"three", "third one", descriptor}});
        Error error;
        auto archive = ZZArchive::archiveWithData(bytes, &error);
        ASSERT_NE(archive, nullptr);
        std::uint64_t expectedOffset = 0;
        for (const auto &entry : archive->entries()) {
            const auto &old = static_cast<const ZZOldArchiveEntry &>(*entry);
            EXPECT_TRUE(old.check(&error)) << error.localizedDescription();
            EXPECT_EQ(old.localFileHeaderOffset(), expectedOffset);
            const auto length = old.localFileLength(&error);
            ASSERT_TRUE(length);
            expectedOffset += *length;
            EXPECT_TRUE(entry->newDataWithError(&error));
        }
        // Removing the first entry moves the others; their records must arrive whole.
        auto kept = archive->entries();
        kept.erase(kept.begin());
        ASSERT_TRUE(archive->updateEntries(kept, &error)) << error.localizedDescription();
        EXPECT_EQ(namesOf(*archive), (std::vector<std::string>{"two", "three"}));
        for (const auto &entry : archive->entries())
            EXPECT_TRUE(entry->check(&error)) << error.localizedDescription();
        EXPECT_EQ(*archive->entries()[1]->newDataWithError(&error), Data({'t', 'h', 'i', 'r', 'd', ' ', 'o', 'n', 'e'}));
    }
}

TEST(ZZArchiveLoad, EntryAccessorsReadTheCentralHeader)
{
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"dir/file.txt", "some text"}});
    ASSERT_EQ(runCommand(folder.path(), "chmod 640 dir/file.txt && TZ=UTC touch -d '2021-03-04 05:06:08' dir/file.txt"
                                        " && zip -q t.zip dir dir/file.txt").status, 0);
    Error error;
    auto archive = ZZArchive::archiveWithURL(folder.file("t.zip"), &error);
    ASSERT_NE(archive, nullptr);
    ASSERT_EQ(archive->entries().size(), 2u);
    const auto &directory = archive->entries()[0];
    const auto &file = archive->entries()[1];
    EXPECT_EQ(directory->fileName(), "dir/");
    EXPECT_EQ(directory->fileMode() & 0170000, 040000);
    EXPECT_EQ(file->fileName(), "dir/file.txt");
    EXPECT_EQ(file->fileMode(), 0100640);
    EXPECT_EQ(file->uncompressedSize(), 9u);
    EXPECT_FALSE(file->encrypted());
    std::tm components {};
    const auto seconds = static_cast<std::time_t>(file->lastModified().secondsSince1970);
    localtime_r(&seconds, &components);
    EXPECT_EQ(components.tm_sec, 8);
    EXPECT_EQ(components.tm_mon, 2);
    EXPECT_EQ(components.tm_year, 121);

    // A name that is not UTF-8 has no decoded name in UTF-8, and one in Latin-1.
    Data latin = buildStoredArchive({{"caf\xE9.txt", "x"}});
    EXPECT_FALSE(ZZArchive::archiveWithData(latin, &error)->entries()[0]->fileName());
    auto asLatin1 = ZZArchive::initWithData(latin, {{ZZOpenOptionsEncodingKey, Value(5)}}, &error);
    EXPECT_EQ(asLatin1->entries()[0]->fileName(), "caf\xC3\xA9.txt");
}

TEST(ZZArchiveLoad, TheDirectoryIsReadByItsSizeAndMustHoldExactlyTheCountsRecords)
{
    const Data good = threeEntryArchive();
    Error error;
    for (const std::uint16_t count : {0, 2, 4}) {
        SCOPED_TRACE(count);
        Data miscounted = good;
        setEntryCount(miscounted, count);
        EXPECT_EQ(loadErrorCode(miscounted), ZZEndOfCentralDirectoryReadErrorCode);
        ZZArchive::archiveWithData(miscounted, &error);
        EXPECT_EQ(error.localizedDescription(),
                  "The zip archive's central directory does not hold the number of entries its end record gives.");
    }
    // The size no longer covers the last record, or covers bytes that are no record.
    const std::size_t sizeField = good.size() - 22 + 12;
    Data shortSize = good;
    shortSize[sizeField] = static_cast<std::uint8_t>(shortSize[sizeField] - 1);
    EXPECT_EQ(loadErrorCode(shortSize), ZZCentralFileHeaderReadErrorCode);
    ZZArchive::archiveWithData(shortSize, &error);
    EXPECT_EQ(zzEntryIndex(error), 2);
    Data longSize(good.begin(), good.end() - 22);
    longSize.insert(longSize.end(), 46, 0);
    longSize.insert(longSize.end(), good.end() - 22, good.end());
    longSize[longSize.size() - 22 + 12] = static_cast<std::uint8_t>(good[sizeField] + 46);
    EXPECT_EQ(loadErrorCode(longSize), ZZEndOfCentralDirectoryReadErrorCode);
    // With size and count in agreement the padding is never mistaken for a record.
    longSize[longSize.size() - 22 + 12] = good[sizeField];
    EXPECT_NE(ZZArchive::archiveWithData(longSize, &error), nullptr) << error.localizedDescription();
}
