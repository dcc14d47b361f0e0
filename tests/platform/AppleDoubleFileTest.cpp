#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "AppleDoubleFile.h"
#include "AppleDoubleTestData.h"
#include "TestSupport.h"

using namespace AppleDoubleTestData;
using namespace std::string_literals;

namespace
{
const std::string quarantine = "com.apple.quarantine";
const std::string tags = "com.apple.metadata:_kMDItemUserTags";
const std::string quarantineValue = "0083;6570a1b2;Safari;";
const std::string tagsValue = "bplist00\xa1\x01UGreen\n\x00\x08\x0a"s;

Data bytesOf(const std::string &text)
{
    return Data(text.begin(), text.end());
}

std::string textOf(const Data &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string typicalCompanion()
{
    return companion(finderInfo("TEXT", "ttxt", 0x0004),
                     {{quarantine, quarantineValue}, {"com.apple.system.Security", "acl"}, {tags, tagsValue}});
}
}

TEST(AppleDoubleFile, ListsAMacCompanionInFinderInfoForkAttributeOrderHidingTheSystemsOwn)
{
    const auto file = AppleDoubleFile::parse(bytesOf(typicalCompanion()));
    ASSERT_TRUE(file);
    // The blank placeholder fork is no resource fork.
    EXPECT_EQ(file->attributeNames(), (std::vector<std::string> {"com.apple.FinderInfo", quarantine, tags}));
    EXPECT_EQ(textOf(*file->value(quarantine)), quarantineValue);
    EXPECT_EQ(textOf(*file->value(tags)), tagsValue);
    EXPECT_EQ(file->value("com.apple.FinderInfo")->size(), 32u);
    EXPECT_FALSE(file->value("com.apple.ResourceFork"));

    const std::string realFork = std::string(300, 'r');
    const auto withFork = AppleDoubleFile::parse(bytesOf(companion(FinderInfoBytes {}, {{tags, tagsValue}}, realFork)));
    ASSERT_TRUE(withFork);
    EXPECT_EQ(withFork->attributeNames(), (std::vector<std::string> {"com.apple.ResourceFork", tags}))
        << "all-zero Finder info is not listed, a real fork is";
}

TEST(AppleDoubleFile, NamesThatAreNotUTF8AreNotListedButKept)
{
    const std::string badName = "com.example.\xC3\x28";
    auto file = AppleDoubleFile::parse(bytesOf(companion(FinderInfoBytes {}, {{badName, "v"}, {tags, tagsValue}})));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->attributeNames(), std::vector<std::string> {tags});
    EXPECT_TRUE(file->removeAttribute(tags));
    const auto rewritten = AppleDoubleFile::parse(file->serialized());
    ASSERT_TRUE(rewritten);
    EXPECT_EQ(textOf(*rewritten->value(badName)), "v") << "what is not listed is not lost";
}

TEST(AppleDoubleFile, RemovingRewritesTheMacLayoutAndKeepsEverythingElse)
{
    auto file = AppleDoubleFile::parse(bytesOf(typicalCompanion()));
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->removeAttribute(quarantine));
    EXPECT_FALSE(file->removeAttribute(quarantine)) << "a second removal finds nothing";

    const Data rewritten = file->serialized();
    const std::string text = textOf(rewritten);
    ASSERT_EQ(rewritten.size(), 4096u);
    EXPECT_EQ(bigEndian32(text, 26), 9u);
    EXPECT_EQ(bigEndian32(text, 30), 0x32u);
    EXPECT_EQ(bigEndian32(text, 34), 0xEB0u);
    EXPECT_EQ(bigEndian32(text, 38), 2u);
    EXPECT_EQ(bigEndian32(text, 42), 0xEE2u);
    EXPECT_EQ(text.substr(0x54, 4), "ATTR");
    EXPECT_EQ(bigEndian32(text, 0x54 + 8), 0xEE2u) << "total size is the end of the attribute area";
    EXPECT_TRUE(text.substr(0xEE2) == blankResourceFork());

    const auto reparsed = AppleDoubleFile::parse(rewritten);
    ASSERT_TRUE(reparsed);
    EXPECT_EQ(reparsed->attributeNames(), (std::vector<std::string> {"com.apple.FinderInfo", tags}));
    EXPECT_EQ(textOf(*reparsed->value(tags)), tagsValue);
    EXPECT_EQ(textOf(*reparsed->value("com.apple.FinderInfo")).substr(0, 8), "TEXTttxt");
    EXPECT_TRUE(reparsed->value("com.apple.system.Security")) << "the system's own attribute survives the rewrite";

    // Once the listed ones are gone the system's attribute still counts.
    auto remaining = *reparsed;
    remaining.removeAttribute("com.apple.FinderInfo");
    remaining.removeAttribute(tags);
    EXPECT_TRUE(remaining.attributeNames().empty());
    EXPECT_FALSE(remaining.holdsNoAttributes());
    remaining.removeAttribute("com.apple.system.Security");
    EXPECT_TRUE(remaining.holdsNoAttributes());
}

TEST(AppleDoubleFile, AttributesBeyondTheMacAreaGrowTheFile)
{
    std::vector<Attribute> many;
    for (int i = 0; i < 40; ++i)
        many.push_back({"org.example.attribute" + std::to_string(i), std::string(100 + i, char('a' + i % 26))});
    auto file = AppleDoubleFile::parse(bytesOf(companion(finderInfo("8BIM", "8BIM", 0), many, std::string(5000, 'f'))));
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->removeAttribute("org.example.attribute0"));
    const auto reparsed = AppleDoubleFile::parse(file->serialized());
    ASSERT_TRUE(reparsed);
    EXPECT_EQ(reparsed->attributeNames().size(), 1 + 1 + 39u);
    EXPECT_EQ(textOf(*reparsed->value("org.example.attribute39")), std::string(139, char('a' + 39 % 26)));
    EXPECT_EQ(reparsed->value("com.apple.ResourceFork")->size(), 5000u);
}

TEST(AppleDoubleFile, AcceptsAFinderInfoEntryWithoutAttributeArea)
{
    std::string bytes(0x32 + 32, '\0');
    bytes.replace(0, 8, "\x00\x05\x16\x07\x00\x02\x00\x00"s);
    bytes.replace(24, 14, "\x00\x01\x00\x00\x00\x09\x00\x00\x00\x32\x00\x00\x00\x20"s);
    bytes.replace(0x32, 4, "APPL");
    const auto file = AppleDoubleFile::parse(bytesOf(bytes));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->attributeNames(), std::vector<std::string> {"com.apple.FinderInfo"});
}

TEST(AppleDoubleFile, RejectsDamagedAndHostileCompanions)
{
    const std::string good = typicalCompanion();
    const auto damaged = [&](std::size_t offset, const std::string &patch) {
        std::string bytes = good;
        bytes.replace(offset, patch.size(), patch);
        return !AppleDoubleFile::parse(bytesOf(bytes));
    };
    EXPECT_TRUE(damaged(0, "\x00\x05\x16\x08"s)) << "magic";
    EXPECT_TRUE(damaged(4, "\x00\x01\x00\x00"s)) << "version 1";
    EXPECT_TRUE(damaged(24, "\xFF\xFF")) << "more entries than bytes";
    EXPECT_TRUE(damaged(42, "\x00\x00\x0F\xFF"s)) << "resource fork past the end";
    EXPECT_TRUE(damaged(34, "\x00\x00\x00\x10"s)) << "Finder info shorter than 32 bytes";
    EXPECT_TRUE(damaged(0x54 + 34, "\x01\x00"s)) << "attribute count past the area";
    EXPECT_TRUE(damaged(0x78, "\x7F\xFF\xFF\xFF")) << "attribute value past the end";
    EXPECT_TRUE(damaged(0x78 + 10, "\x00"s)) << "name length 0";
    EXPECT_TRUE(damaged(0x78 + 11 + quarantine.size(), "X")) << "name without its NUL";
    EXPECT_TRUE(damaged(38, "\x00\x00\x00\x09"s)) << "a second Finder info entry";
    EXPECT_FALSE(AppleDoubleFile::parse(bytesOf(companion(FinderInfoBytes {}, {{quarantine, "a"}, {quarantine, "b"}}))))
        << "one name twice";

    // Every truncation either parses to a smaller valid companion or is refused; none reads past the end.
    for (std::size_t length = 0; length < good.size(); length += 7)
        EXPECT_FALSE(AppleDoubleFile::parse(bytesOf(good.substr(0, length)))) << length;

    // Random corruption must never crash or over-read (the sanitizer build checks the reads).
    std::mt19937 generator(20261208);
    for (int round = 0; round < 2000; ++round) {
        Data bytes = bytesOf(good);
        for (int flips = 0; flips < 4; ++flips)
            bytes[generator() % 0x200] = static_cast<std::uint8_t>(generator());
        if (const auto file = AppleDoubleFile::parse(bytes)) {
            EXPECT_TRUE(AppleDoubleFile::parse(file->serialized())) << "what parses must rewrite into something that parses";
        }
    }
}

TEST(AppleDoubleFile, WritingOverALinkReplacesTheLinkWithAPrivateFile)
{
    TemporaryDirectory folder;
    const std::string target = folder.path() + "/target";
    writeFile(target, "untouched");
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    ASSERT_EQ(symlink(target.c_str(), (folder.path() + "/._item").c_str()), 0);
    const int directory = open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(directory, 0);

    const auto file = AppleDoubleFile::parse(bytesOf(typicalCompanion()));
    ASSERT_TRUE(file);
    file->write(directory, "._item");
    close(directory);

    struct stat status;
    ASSERT_EQ(lstat((folder.path() + "/._item").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 0022, 0u) << "the link's 0777 is not the companion's mode";
    EXPECT_EQ(readFile(target), "untouched");
}

TEST(AppleDoubleFile, ARewriteRemovesStaleCopiesAKilledOneLeftBeside)
{
    TemporaryDirectory folder;
    const struct timespec twoHoursAgo[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
    for (const char *name : {".tarnwick-ad-K1lledAd.tarnwick-tmp", ".tarnwick-song.zip.K1lled.tarnwick-tmp",
                             ".tarnwick-ad-.tarnwick-tmp", ".tarnwick-ad-K1lledAd"}) {
        writeFile(folder.file(name), "left behind");
        ASSERT_EQ(utimensat(AT_FDCWD, folder.file(name).c_str(), twoHoursAgo, 0), 0) << name;
    }
    writeFile(folder.file(".tarnwick-ad-FreshOne.tarnwick-tmp"), "another rewrite at work");
    const int directory = open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(directory, 0);

    const auto file = AppleDoubleFile::parse(bytesOf(typicalCompanion()));
    ASSERT_TRUE(file);
    file->write(directory, "._item");
    close(directory);

    EXPECT_FALSE(fileExists(folder.file(".tarnwick-ad-K1lledAd.tarnwick-tmp")));
    EXPECT_FALSE(fileExists(folder.file(".tarnwick-song.zip.K1lled.tarnwick-tmp")));
    EXPECT_TRUE(fileExists(folder.file(".tarnwick-ad-.tarnwick-tmp"))) << "not a name of ours";
    EXPECT_TRUE(fileExists(folder.file(".tarnwick-ad-K1lledAd"))) << "an earlier form, which could be the user's";
    EXPECT_TRUE(fileExists(folder.file(".tarnwick-ad-FreshOne.tarnwick-tmp"))) << "a fresh copy may be in use";
    EXPECT_TRUE(fileExists(folder.file("._item")));
}
