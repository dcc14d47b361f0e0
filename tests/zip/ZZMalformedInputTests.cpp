#include <gtest/gtest.h>
#include <random>

#include "TestSupport.h"
#include "ZZArchive.h"
#include "ZZDataProvider.h"
#include "ZZError.h"
#include "ZZInputStream.h"
#include "ZipFixtures.h"

namespace
{
// Opens the bytes and, when they open, reads, checks and rewrites every entry:
// each step must end in success or a zip error, never in a crash or a bad read.
void exercise(const Data &bytes)
{
    Error error;
    auto archive = ZZArchive::archiveWithData(bytes, &error);
    if (!archive) {
        EXPECT_TRUE(error.domain() == ZZErrorDomain && error.code() >= 0 && error.code() <= 12)
            << error.domain() << " " << error.code();
        return;
    }
    for (const auto &entry : archive->entries()) {
        entry->fileName();
        entry->check(&error);
        entry->newDataWithPassword("secret", &error);
        if (auto stream = entry->newStreamWithPassword("secret", &error)) {
            std::uint8_t buffer[512];
            stream->open();
            for (int reads = 0; reads < 100000 && stream->read(buffer, sizeof buffer) > 0; ++reads) {
            }
            stream->close();
        }
        if (auto provider = entry->newDataProviderWithPassword("secret", &error)) {
            std::uint8_t buffer[100];
            provider->skipForward(50);
            provider->getBytes(buffer, sizeof buffer);
        }
    }
    auto kept = archive->entries();
    if (!kept.empty())
        kept.erase(kept.begin());
    if (!archive->updateEntries(kept, &error)) {
        EXPECT_EQ(error.domain(), ZZErrorDomain);
    }
}

Data sampleArchive()
{
    TemporaryDirectory folder;
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i) + " of some compressible text\n";
    makeFiles(folder.path(), {{"a.txt", text}, {"b.txt", "stored"}, {"c/._d", text.substr(0, 300)}});
    EXPECT_EQ(runCommand(folder.path(), "zip -q -0 s.zip b.txt && zip -q s.zip a.txt && zip -q -P secret s.zip c/._d"
                                        "").status, 0);
    Data bytes = readBytes(folder.file("s.zip"));
    EXPECT_GT(bytes.size(), 100u);
    return bytes;
}
}

TEST(ZZMalformedInput, EveryTruncationFailsCleanly)
{
    std::vector<Data> samples = {sampleArchive(),
                                 buildStoredArchive({{"a", "one", 12}, {"b", "two", 24}, {"c", "three", 20}})};
    TemporaryDirectory folder;
    makeFiles(folder.path(), {{"x.txt", "some text for the cipher, some text for the cipher"}});
    if (runCommand(folder.path(), "7z a -tzip -psecret -mem=AES256 x.zip x.txt >/dev/null").status == 0)
        samples.push_back(readBytes(folder.file("x.zip")));
    for (const Data &bytes : samples) {
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            SCOPED_TRACE(length);
            exercise(Data(bytes.begin(), bytes.begin() + static_cast<long>(length)));
        }
        exercise(bytes);
    }
}

TEST(ZZMalformedInput, RandomDamageToTheDirectoryFailsCleanly)
{
    const Data bytes = sampleArchive();
    Error error;
    auto archive = ZZArchive::archiveWithData(bytes, &error);
    ASSERT_NE(archive, nullptr);
    // The central directory starts where the last local file ends; damage it and the end record.
    const std::uint64_t directoryStart = bytes.size() - 22 - [&] {
        std::uint64_t size = 0;
        for (std::size_t i = bytes.size() - 22 + 12, shift = 0; shift < 32; ++i, shift += 8)
            size |= static_cast<std::uint64_t>(bytes[i]) << shift;
        return size;
    }();
    std::mt19937 random(20261208);
    std::uniform_int_distribution<std::uint64_t> position(directoryStart, bytes.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    std::uniform_int_distribution<int> count(1, 4);
    for (int round = 0; round < 3000; ++round) {
        SCOPED_TRACE(round);
        Data damaged = bytes;
        for (int changes = count(random); changes > 0; --changes)
            damaged[position(random)] = static_cast<std::uint8_t>(value(random));
        exercise(damaged);
    }
    // Damage anywhere, including local headers and data.
    std::uniform_int_distribution<std::uint64_t> anywhere(0, bytes.size() - 1);
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        Data damaged = bytes;
        for (int changes = count(random); changes > 0; --changes)
            damaged[anywhere(random)] = static_cast<std::uint8_t>(value(random));
        exercise(damaged);
    }
}
