#include <gtest/gtest.h>
#include <zlib.h>

#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZDataProvider.h"
#include "ZZError.h"
#include "ZZExtraField.h"
#include "ZZInflateInputStream.h"
#include "ZZInputStream.h"
#include "ZZOldArchiveEntry.h"
#include "ZipFixtures.h"

namespace
{
std::string sampleText()
{
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "row " + std::to_string(i * 37 % 1000) + ";";
    return text;
}

Data asData(const std::string &text)
{
    return Data(text.begin(), text.end());
}

std::shared_ptr<ZZArchiveEntry> entryNamed(const ZZArchive &archive, const std::string &name)
{
    for (const auto &entry : archive.entries()) {
        if (entry->fileName() == name)
            return entry;
    }
    ADD_FAILURE() << "no entry " << name;
    return nullptr;
}

// Reads a whole stream; none when it ends in an error.
std::optional<Data> readStream(ZZInputStream &stream)
{
    Data data;
    std::uint8_t buffer[777];
    stream.open();
    std::int64_t count;
    while ((count = stream.read(buffer, sizeof buffer)) > 0)
        data.insert(data.end(), buffer, buffer + count);
    stream.close();
    if (count < 0)
        return std::nullopt;
    return data;
}

std::unique_ptr<ZZArchive> open(const std::string &path)
{
    Error error;
    auto archive = ZZArchive::archiveWithURL(path, &error);
    EXPECT_NE(archive, nullptr) << error.localizedDescription();
    return archive;
}

// Flips one byte in the middle of the entry's stored data.
Data damageData(const Data &bytes, const ZZArchive &archive, const std::string &name)
{
    Error error;
    const auto data = static_cast<const ZZOldArchiveEntry &>(*entryNamed(archive, name)).fileData(&error);
    Data damaged = bytes;
    damaged[static_cast<std::size_t>(data->data - archive.contents().data) + data->size / 2] ^= 0x55;
    return damaged;
}
}

TEST(ZZEntryRead, StoredAndDeflatedDataThroughEveryPath)
{
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"text.txt", sampleText()}, {"empty", ""}});
    ASSERT_EQ(runCommand(folder.path(), "zip -q -0 s.zip text.txt empty && zip -q d.zip text.txt empty").status, 0);
    for (const std::string name : {"s.zip", "d.zip"}) {
        SCOPED_TRACE(name);
        auto archive = open(folder.file(name));
        ASSERT_NE(archive, nullptr);
        const auto entry = entryNamed(*archive, "text.txt");
        EXPECT_EQ(entry->compressed(), name == "d.zip");
        Error error;
        EXPECT_TRUE(entry->check(&error));
        EXPECT_EQ(entry->newDataWithError(&error), asData(sampleText()));
        auto stream = entry->newStreamWithError(&error);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(readStream(*stream), asData(sampleText()));
        auto provider = entry->newDataProviderWithError(&error);
        ASSERT_NE(provider, nullptr);
        EXPECT_EQ(provider->skipForward(1000), 1000);
        Data rest(sampleText().size());
        EXPECT_EQ(provider->getBytes(rest.data(), rest.size()), sampleText().size() - 1000);
        EXPECT_TRUE(std::equal(rest.begin(), rest.begin() + static_cast<long>(sampleText().size() - 1000),
                               sampleText().begin() + 1000));
        provider->rewind();
        Data first(10);
        EXPECT_EQ(provider->getBytes(first.data(), first.size()), 10u);
        EXPECT_EQ(first, asData(sampleText().substr(0, 10)));
        EXPECT_EQ(entryNamed(*archive, "empty")->newDataWithError(&error), Data{});
        // An empty entry's provider has no bytes at all to copy from.
        auto emptyProvider = entryNamed(*archive, "empty")->newDataProviderWithError(&error);
        ASSERT_NE(emptyProvider, nullptr);
        EXPECT_EQ(emptyProvider->getBytes(first.data(), first.size()), 0u);
    }
    EXPECT_EQ(ZZDataProvider::directWithData(Data{})->getBytes(nullptr, 0), 0u);
}

TEST(ZZEntryRead, DamagedDataIsAnErrorNeverSilentOrZeroFilled)
{
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"text.txt", sampleText()}});
    ASSERT_EQ(runCommand(folder.path(), "zip -q -0 s.zip text.txt && zip -q d.zip text.txt").status, 0);
    for (const std::string name : {"s.zip", "d.zip"}) {
        SCOPED_TRACE(name);
        auto archive = open(folder.file(name));
        const Data damaged = damageData(readBytes(folder.file(name)), *archive, "text.txt");
        Error error;
        auto broken = ZZArchive::archiveWithData(damaged, &error);
        ASSERT_NE(broken, nullptr);
        const auto entry = broken->entries()[0];
        EXPECT_FALSE(entry->newDataWithError(&error));
        EXPECT_EQ(error.code(), ZZInvalidCRChecksum);
        auto stream = entry->newStreamWithError(&error);
        ASSERT_NE(stream, nullptr);
        EXPECT_FALSE(readStream(*stream));
        EXPECT_EQ(stream->streamError()->code(), ZZInvalidCRChecksum);
    }
    // A deflate stream that ends early.
    auto archive = open(folder.file("d.zip"));
    const auto data = static_cast<const ZZOldArchiveEntry &>(*archive->entries()[0]).fileData(nullptr);
    EXPECT_FALSE(ZZInflateInputStream::decompressData(data->slice(0, data->size / 2), sampleText().size()));
    EXPECT_TRUE(ZZInflateInputStream::decompressData(*data, sampleText().size()));
}

TEST(ZZEntryRead, TraditionalEncryption)
{
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"text.txt", sampleText()}, {"small.txt", "tiny"}});
    ASSERT_EQ(runCommand(folder.path(), "zip -q -P secret e.zip text.txt small.txt"
                                        " && printf 'piped secret' | zip -q -P secret - - | cat > p.zip").status, 0);
    for (const std::string name : {"e.zip", "p.zip"}) {
        SCOPED_TRACE(name);
        auto archive = open(folder.file(name));
        ASSERT_NE(archive, nullptr);
        for (const auto &entry : archive->entries()) {
            EXPECT_TRUE(entry->encrypted());
            const auto &old = static_cast<const ZZOldArchiveEntry &>(*entry);
            EXPECT_EQ(old.encryptionMode(), ZZEncryptionModeStandard);
            Error error;
            EXPECT_TRUE(entry->check(&error)) << error.localizedDescription();
            const auto data = entry->newDataWithPassword("secret", &error);
            ASSERT_TRUE(data) << error.localizedDescription();
            const std::string expected = entry->fileName() == "text.txt" ? sampleText()
                : entry->fileName() == "small.txt"                       ? "tiny"
                                                                         : "piped secret";
            EXPECT_EQ(*data, asData(expected));
            // A wrong password is refused by the header check, or else by the checksum: never data.
            EXPECT_FALSE(entry->newDataWithPassword("wrong", &error));
            EXPECT_TRUE(error.code() == ZZWrongPassword || error.code() == ZZInvalidCRChecksum) << error.code();
            EXPECT_FALSE(entry->newDataWithError(&error));
        }
    }
    // The piped entry has a data descriptor: its check byte is the time's high byte.
    auto piped = open(folder.file("p.zip"));
    Error error;
    EXPECT_EQ(piped->entries()[0]->newDataWithPassword("secret", &error), asData("piped secret"));
}

TEST(ZZEntryRead, WinZipAESAllStrengths)
{
    if (runCommand("/", "command -v 7z").status != 0)
        GTEST_SKIP() << "7z (p7zip-full) is not installed";
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"text.txt", sampleText()}, {"tiny.txt", "abc"}});
    for (const int bits : {128, 192, 256}) {
        SCOPED_TRACE(bits);
        const std::string name = "aes" + std::to_string(bits) + ".zip";
        ASSERT_EQ(runCommand(folder.path(), "7z a -tzip -pPASS -mem=AES" + std::to_string(bits) + " " + name +
                                                " text.txt tiny.txt >/dev/null").status, 0);
        auto archive = open(folder.file(name));
        ASSERT_NE(archive, nullptr);
        for (const auto &entry : archive->entries()) {
            const auto &old = static_cast<const ZZOldArchiveEntry &>(*entry);
            EXPECT_EQ(old.encryptionMode(), ZZEncryptionModeWinZipAES);
            Error error;
            EXPECT_TRUE(entry->check(&error)) << error.localizedDescription();
            const std::string expected = entry->fileName() == "text.txt" ? sampleText() : "abc";
            EXPECT_EQ(entry->newDataWithPassword("PASS", &error), asData(expected)) << error.localizedDescription();
            auto stream = entry->newStreamWithPassword("PASS", &error);
            ASSERT_NE(stream, nullptr);
            EXPECT_EQ(readStream(*stream), asData(expected));
            EXPECT_FALSE(entry->newDataWithPassword("pass", &error));
            EXPECT_TRUE(error.code() == ZZWrongPassword || error.code() == ZZInvalidCRChecksum) << error.code();
        }
        // A changed ciphertext byte fails the authentication code.
        const Data damaged = damageData(readBytes(folder.file(name)), *archive, "text.txt");
        Error error;
        auto broken = ZZArchive::archiveWithData(damaged, &error);
        EXPECT_FALSE(entryNamed(*broken, "text.txt")->newDataWithPassword("PASS", &error));
        EXPECT_EQ(error.code(), ZZInvalidCRChecksum);
    }
}

TEST(ZZEntryRead, UnsupportedMethodsAndEncryptionAreRefused)
{
    Data bytes = buildStoredArchive({{"a", "data"}});
    const std::size_t central = bytes.size() - 22 - 47;
    Data strong = bytes;
    strong[central + 8] = 0x41;  // encrypted + strong encryption
    Error error;
    auto archive = ZZArchive::archiveWithData(strong, &error);
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->entries()[0]->newStreamWithError(&error), nullptr);
    EXPECT_EQ(error.code(), ZZUnsupportedEncryptionMethod);
    EXPECT_FALSE(archive->entries()[0]->newDataWithError(&error));
    EXPECT_EQ(error.code(), ZZUnsupportedEncryptionMethod);

    Data bzip2 = bytes;
    bzip2[central + 10] = 12;
    archive = ZZArchive::archiveWithData(bzip2, &error);
    EXPECT_FALSE(archive->entries()[0]->newDataWithError(&error));
    EXPECT_EQ(error.code(), ZZUnsupportedCompressionMethod);
    // The local header now disagrees with the central one.
    EXPECT_FALSE(archive->entries()[0]->check(&error));
    EXPECT_EQ(error.code(), ZZLocalFileReadErrorCode);

    // A stored entry whose size claims more than its data holds.
    Data oversized = bytes;
    oversized[central + 24] = 200;
    archive = ZZArchive::archiveWithData(oversized, &error);
    EXPECT_FALSE(archive->entries()[0]->newDataWithError(&error));
    EXPECT_EQ(error.code(), ZZInvalidCRChecksum);
}

TEST(ZZEntryRead, WinZipAESVersion1ChecksTheCRC)
{
    if (runCommand("/", "command -v 7z").status != 0)
        GTEST_SKIP() << "7z (p7zip-full) is not installed";
    TemporaryDirectory folder;
    const std::string text = sampleText();
    makeFiles(folder.path(), {{"text.txt", text}});
    ASSERT_EQ(runCommand(folder.path(), "7z a -tzip -pPASS -mem=AES128 a.zip text.txt >/dev/null").status, 0);
    // 7z writes AE-2 (no CRC); make it AE-1 by setting the version and the CRC in both headers.
    Data bytes = readBytes(folder.file("a.zip"));
    const std::string block("\x01\x99\x07\x00\x02\x00" "AE", 8);
    const std::string central("PK\x01\x02", 4);
    const std::string all(bytes.begin(), bytes.end());
    for (std::size_t at = all.find(block); at != std::string::npos; at = all.find(block, at + 1))
        bytes[at + 4] = 1;
    const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(text.data()),
                                                      static_cast<uInt>(text.size())));
    const auto putCRC = [&bytes](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    const std::size_t centralAt = all.find(central);
    ASSERT_NE(centralAt, std::string::npos);
    putCRC(14, crc);
    putCRC(centralAt + 16, crc);
    Error error;
    auto archive = ZZArchive::archiveWithData(bytes, &error);
    ASSERT_NE(archive, nullptr);
    EXPECT_TRUE(archive->entries()[0]->check(&error)) << error.localizedDescription();
    EXPECT_EQ(archive->entries()[0]->newDataWithPassword("PASS", &error), asData(text)) << error.localizedDescription();

    putCRC(14, crc ^ 1);
    putCRC(centralAt + 16, crc ^ 1);
    archive = ZZArchive::archiveWithData(bytes, &error);
    EXPECT_FALSE(archive->entries()[0]->newDataWithPassword("PASS", &error));
    EXPECT_EQ(error.code(), ZZInvalidCRChecksum);
}
