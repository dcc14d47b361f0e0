#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "AppleDoubleTestData.h"
#include "Error.h"
#include "ExtendedAttributes.h"
#include "FileDescriptor.h"
#include "FinderInfo.h"
#include "ScopedMount.h"
#include "TestSupport.h"

using namespace AppleDoubleTestData;

namespace
{
const std::string quarantine = "com.apple.quarantine";
const std::string tags = "com.apple.metadata:_kMDItemUserTags";

std::int64_t errorCodeOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const Error &error) {
        EXPECT_EQ(error.domain(), Error::POSIXDomain);
        return error.code();
    }
    return 0;
}

void setAttribute(const std::string &path, const std::string &name, const std::string &value)
{
    ASSERT_EQ(lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0) << name << ": " << strerror(errno);
}

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> entriesOf(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return sorted(names);
}

class NativeAttributes : public testing::Test
{
protected:
    void SetUp() override
    {
        writeFile(m_folder.file("probe"), "");
        if (lsetxattr(m_folder.file("probe").c_str(), "user.probe", "1", 1, 0) != 0)
            GTEST_SKIP() << "the temporary folder's file system keeps no user attributes";
    }

    TemporaryDirectory m_folder;
};

// A ramfs keeps no attributes at all, so the companions carry them (root only).
class CompanionAttributes : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!isRoot())
            GTEST_SKIP() << "mounting a ramfs needs root";
        m_mountPoint = m_folder.file("volume");
        std::filesystem::create_directory(m_mountPoint);
        m_mount = std::make_unique<ScopedMount>("ramfs", m_mountPoint);
        ASSERT_TRUE(m_mount->isMounted()) << m_mount->failure();
        m_data = m_mountPoint + "/Report.txt";
        m_companion = m_mountPoint + "/._Report.txt";
        writeFile(m_data, "report");
    }

    void TearDown() override { m_mount.reset(); }

    TemporaryDirectory m_folder;
    std::string m_mountPoint;
    std::unique_ptr<ScopedMount> m_mount;
    std::string m_data;
    std::string m_companion;
};
}

TEST_F(NativeAttributes, ListsAndRemovesOnlyMacNamesOfTheUserNamespace)
{
    const std::string file = m_folder.file("photo.jpg");
    writeFile(file, "jpeg");
    EXPECT_TRUE(ExtendedAttributes::list(file).empty()) << "no attributes is an empty list, not an error";

    setAttribute(file, "user." + quarantine, "0083;;Safari;");
    setAttribute(file, "user." + tags, "bplist");
    for (const char *linuxOwn : {"user.xdg.tags", "user.DOSATTRIB", "user.SAMBA_PAI", "user.DosStream.Zone:$DATA"})
        setAttribute(file, linuxOwn, "kept");
    setAttribute(file, "user.bad\xff", "not UTF-8");
    if (isRoot())
        setAttribute(file, "trusted.tarnwick", "kept");
    EXPECT_EQ(sorted(ExtendedAttributes::list(file)), sorted({quarantine, tags}));
    const Data value = ExtendedAttributes::get(file, quarantine);
    EXPECT_EQ(std::string(value.begin(), value.end()), "0083;;Safari;");

    ExtendedAttributes::remove(file, quarantine);
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::remove(file, quarantine); }), ENODATA);
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::remove(file, "xdg.tags"); }), ENODATA);
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::remove(file, std::string("xdg\0.tags", 9)); }), EINVAL);
    EXPECT_GT(lgetxattr(file.c_str(), "user.xdg.tags", nullptr, 0), 0) << "the desktop's own data stays";
    if (isRoot()) {
        EXPECT_GT(lgetxattr(file.c_str(), "trusted.tarnwick", nullptr, 0), 0);
    }
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::list(m_folder.file("missing")); }), ENOENT);
}

TEST_F(NativeAttributes, NeverFollowsASymbolicLink)
{
    const std::string target = m_folder.file("target");
    const std::string link = m_folder.file("link");
    writeFile(target, "x");
    setAttribute(target, "user." + quarantine, "q");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

    EXPECT_TRUE(ExtendedAttributes::list(link).empty());
    EXPECT_NE(errorCodeOf([&] { ExtendedAttributes::remove(link, quarantine); }), 0);
    EXPECT_EQ(ExtendedAttributes::list(target), std::vector<std::string> {quarantine});
}

TEST_F(NativeAttributes, ReachesItemsThroughTheirOpenFolderOnly)
{
    const std::string file = m_folder.file("unreadable");
    writeFile(file, "x");
    setAttribute(file, "user." + quarantine, "q");
    setAttribute(file, "user." + tags, "t");
    ASSERT_EQ(chmod(file.c_str(), 0), 0);
    ASSERT_EQ(mkfifo(m_folder.file("pipe").c_str(), 0600), 0);
    const FileDescriptor folder(open(m_folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(folder.isValid());
    const bool keeps = ExtendedAttributes::keepsAttributesNatively(folder.get());
    EXPECT_TRUE(keeps);

    EXPECT_EQ(sorted(ExtendedAttributes::listAt(folder.get(), "unreadable")), sorted({quarantine, tags}));
    ExtendedAttributes::removeAt(folder.get(), "unreadable", tags, keeps);
    EXPECT_EQ(ExtendedAttributes::listAt(folder.get(), "unreadable", keeps), std::vector<std::string> {quarantine});
    // A FIFO is looked at, never opened for reading, so nothing blocks.
    EXPECT_TRUE(ExtendedAttributes::listAt(folder.get(), "pipe").empty());
    // Nothing but an entry of the folder itself.
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::listAt(folder.get(), ".."); }), ENOENT);
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::listAt(folder.get(), "sub/unreadable"); }), ENOENT);
}

TEST_F(NativeAttributes, FinderInfoGivesTypeAliasAndColourLabel)
{
    const std::string file = m_folder.file("alias");
    writeFile(file, "");
    EXPECT_EQ(NSHFSTypeOfFile(file), "''") << "no Finder info, no type";
    EXPECT_FALSE(FinderInfo::ofItem(file));

    const FinderInfoBytes bytes = finderInfo("TEXT", "ttxt", 0x8000 | (5 << 1));
    setAttribute(file, "user.com.apple.FinderInfo", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(NSHFSTypeOfFile(file), "'TEXT'");
    const auto info = FinderInfo::ofItem(file);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->isAlias());
    EXPECT_EQ(info->colorLabel(), 5);

    setAttribute(file, "user.com.apple.FinderInfo", "short");
    EXPECT_FALSE(FinderInfo::ofItem(file)) << "Finder info must be 32 bytes";
    EXPECT_EQ(NSHFSTypeOfFile(m_folder.path()), "''") << "folders have no type";
    EXPECT_FALSE(NSHFSTypeOfFile(m_folder.file("missing")));
}

TEST_F(CompanionAttributes, ListsAndRemovesThroughTheCompanionUntilItGoes)
{
    EXPECT_TRUE(ExtendedAttributes::list(m_data).empty()) << "no companion, no attributes";
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::remove(m_data, quarantine); }), ENODATA);

    writeFile(m_companion, companion(finderInfo("TEXT", "ttxt", 4 << 1), {{quarantine, "0083;;Safari;"}, {tags, "bplist00"}}));
    EXPECT_EQ(ExtendedAttributes::list(m_data), (std::vector<std::string> {"com.apple.FinderInfo", quarantine, tags}));
    EXPECT_EQ(NSHFSTypeOfFile(m_data), "'TEXT'");
    EXPECT_EQ(FinderInfo::ofItem(m_data)->colorLabel(), 4);

    ExtendedAttributes::remove(m_data, quarantine);
    const std::string rewritten = readFile(m_companion);
    EXPECT_EQ(rewritten.size(), 4096u);
    EXPECT_TRUE(rewritten.substr(0xEE2) == blankResourceFork());
    EXPECT_EQ(ExtendedAttributes::list(m_data), (std::vector<std::string> {"com.apple.FinderInfo", tags}));
    const Data keptTags = ExtendedAttributes::get(m_data, tags);
    EXPECT_EQ(std::string(keptTags.begin(), keptTags.end()), "bplist00");
    EXPECT_EQ(entriesOf(m_mountPoint), (std::vector<std::string> {"._Report.txt", "Report.txt"})) << "no temporary file is left";

    ExtendedAttributes::remove(m_data, "com.apple.FinderInfo");
    EXPECT_EQ(ExtendedAttributes::list(m_data), std::vector<std::string> {tags});
    ExtendedAttributes::remove(m_data, tags);
    EXPECT_FALSE(fileExists(m_companion)) << "removing the last attribute deletes the companion";
    EXPECT_EQ(readFile(m_data), "report");
}

TEST_F(CompanionAttributes, LeavesADamagedCompanionByteForByte)
{
    std::string damaged = companion(finderInfo("TEXT", "ttxt", 0), {{quarantine, "q"}});
    damaged[0x78] = '\x7F'; // the value's offset now points far past the end
    writeFile(m_companion, damaged);

    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::list(m_data); }), EINVAL);
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::remove(m_data, quarantine); }), EINVAL);
    EXPECT_TRUE(readFile(m_companion) == damaged) << "the damaged companion was changed";
}

TEST_F(CompanionAttributes, NeitherFollowsALinkNorReadsAnOrphan)
{
    // A companion that is a link is refused, and what it points to stays as it was.
    const std::string elsewhere = m_folder.file("elsewhere");
    const std::string bytes = companion(finderInfo("TEXT", "ttxt", 0), {{quarantine, "q"}});
    writeFile(elsewhere, bytes);
    ASSERT_EQ(symlink(elsewhere.c_str(), m_companion.c_str()), 0);
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::remove(m_data, quarantine); }), ELOOP);
    EXPECT_TRUE(readFile(elsewhere) == bytes);
    ASSERT_EQ(unlink(m_companion.c_str()), 0);

    // A companion without its data file: the data file's attributes cannot be read.
    writeFile(m_mountPoint + "/._Gone.txt", bytes);
    EXPECT_EQ(errorCodeOf([&] { ExtendedAttributes::list(m_mountPoint + "/Gone.txt"); }), ENOENT);
    EXPECT_TRUE(fileExists(m_mountPoint + "/._Gone.txt"));
}

TEST_F(CompanionAttributes, AVolumeRootKeepsItsAttributesInsideItself)
{
    writeFile(m_mountPoint + "/._.", companion(FinderInfoBytes {}, {{tags, "bplist00"}}));
    EXPECT_EQ(ExtendedAttributes::list(m_mountPoint), std::vector<std::string> {tags});
    ExtendedAttributes::remove(m_mountPoint + "/", tags);
    EXPECT_FALSE(fileExists(m_mountPoint + "/._."));
}

TEST(CompanionAttributesOnExfat, ARealFatFamilyDiskKeepsAttributesInCompanions)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting an exFAT image needs root";
    TemporaryDirectory folder;
    const std::string image = folder.file("disk.img");
    const std::string mountPoint = folder.file("disk");
    std::filesystem::create_directory(mountPoint);
    if (!ScopedMount::makeExfatImage(image))
        GTEST_SKIP() << "mkfs.exfat is not available";
    ScopedMount mount = ScopedMount::exfatImage(image, mountPoint);
    if (!mount.isMounted())
        GTEST_SKIP() << mount.failure();

    const std::string data = mountPoint + "/Song.m4a";
    writeFile(data, "audio");
    writeFile(mountPoint + "/._Song.m4a", companion(finderInfo("M4A ", "hook", 0), {{quarantine, "q"}, {tags, "t"}}));
    ExtendedAttributes::remove(data, quarantine);
    EXPECT_EQ(ExtendedAttributes::list(data), (std::vector<std::string> {"com.apple.FinderInfo", tags}));
    EXPECT_EQ(NSHFSTypeOfFile(data), "'M4A '");
}
