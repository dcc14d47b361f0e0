#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "DeviceRoots.h"
#include "FileSystemTypes.h"
#include "MountTable.h"
#include "TestSupport.h"

namespace
{
MountEntry fuseBlockMount(const std::string &source, unsigned major, unsigned minor)
{
    MountEntry entry;
    entry.mountPoint = "/media/me/Stick";
    entry.fileSystemType = "fuseblk";
    entry.source = source;
    entry.major = major;
    entry.minor = minor;
    return entry;
}

// Fake /dev and udev folders for one test.
class FileSystemTypesDevices : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(mkdir((m_temporary.path() + "/dev").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((m_temporary.path() + "/udev").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((m_temporary.path() + "/udev/data").c_str(), 0755), 0);
        DeviceRoots::setDevRootForTesting(m_temporary.path() + "/dev");
        DeviceRoots::setUdevRootForTesting(m_temporary.path() + "/udev");
    }

    void TearDown() override
    {
        DeviceRoots::setDevRootForTesting({});
        DeviceRoots::setUdevRootForTesting({});
    }

    TemporaryDirectory m_temporary;
};
}

TEST(FileSystemTypes, TranslationTable)
{
    const std::pair<const char *, const char *> cases[] = {
        {"vfat", "msdos"},       {"msdos", "msdos"},   {"fat", "msdos"},         {"exfat", "exfat"},
        {"ntfs", "ntfs"},        {"ntfs3", "ntfs"},    {"hfsplus", "hfs"},       {"hfs", "hfs"},
        {"apfs", "apfs"},        {"cifs", "smbfs"},    {"smb3", "smbfs"},        {"nfs", "nfs"},
        {"nfs4", "nfs"},         {"iso9660", "cd9660"}, {"udf", "udf"},          {"fuse", "fusefs"},
        {"fuse.sshfs", "fusefs"}, {"prl_fs", "prlufs"}, {"fuseblk", "fusefs"},   {"ext4", "ext4"},
        {"btrfs", "btrfs"},      {"tmpfs", "tmpfs"},   {"fuseish", "fuseish"},   {"VFAT", "VFAT"},
    };
    for (const auto &[linuxName, macName] : cases)
        EXPECT_EQ(FileSystemTypes::translate(linuxName), macName) << linuxName;
}

TEST_F(FileSystemTypesDevices, FuseBlockTakesTheTypeUdevRecorded)
{
    writeFile(m_temporary.path() + "/udev/data/b8:17", "S:disk/by-label/Stick\nE:ID_FS_LABEL=Stick\nE:ID_FS_TYPE=ntfs\n");
    EXPECT_EQ(FileSystemTypes::translate(fuseBlockMount("/dev/sdz1", 8, 17)), "ntfs");
    writeFile(m_temporary.path() + "/udev/data/b8:17", "E:ID_FS_TYPE=vfat\n");
    EXPECT_EQ(FileSystemTypes::translate(fuseBlockMount("/dev/sdz1", 8, 17)), "msdos");
}

TEST_F(FileSystemTypesDevices, FuseBlockWithoutFactsIsFusefs)
{
    // An empty udev value and no readable device say nothing.
    writeFile(m_temporary.path() + "/udev/data/b8:17", "E:ID_FS_TYPE=\n");
    EXPECT_EQ(FileSystemTypes::translate(fuseBlockMount("/dev/sdz1", 8, 17)), "fusefs");
    writeFile(m_temporary.path() + "/dev/garbage", std::string(65536, 'x'));
    EXPECT_EQ(FileSystemTypes::translate(fuseBlockMount("/dev/garbage", 8, 18)), "fusefs");
}

TEST_F(FileSystemTypesDevices, FuseBlockProbesTheDeviceWhenUdevIsSilent)
{
    const std::string image = m_temporary.path() + "/dev/sdz1";
    writeFile(image, "");
    ASSERT_EQ(truncate(image.c_str(), 8 << 20), 0);
    const std::string command = "mkfs.exfat " + image + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "mkfs.exfat (exfatprogs) is not available";
    EXPECT_EQ(FileSystemTypes::translate(fuseBlockMount("/dev/sdz1", 8, 17)), "exfat");
    EXPECT_EQ(FileSystemTypes::blockDeviceType(8, 17, image), "exfat");
    // A source that is not a /dev path is looked up by device number.
    ASSERT_EQ(mkdir((m_temporary.path() + "/dev/block").c_str(), 0755), 0);
    ASSERT_EQ(symlink("../sdz1", (m_temporary.path() + "/dev/block/8:17").c_str()), 0);
    EXPECT_EQ(FileSystemTypes::translate(fuseBlockMount("exfat-fuse", 8, 17)), "exfat");
}

TEST(FileSystemTypes, NetworkByTypeOrSource)
{
    for (const char *type : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "ceph", "afs", "glusterfs", "fuse.sshfs",
                             "davfs", "fuse.rclone"})
        EXPECT_TRUE(FileSystemTypes::isNetwork(type)) << type;
    for (const char *type : {"ext4", "vfat", "tmpfs", "fuse", "nfsd", "fuseblk"})
        EXPECT_FALSE(FileSystemTypes::isNetwork(type, "/dev/sda1")) << type;

    EXPECT_TRUE(FileSystemTypes::isNetwork("fuse", "//server/share"));
    EXPECT_TRUE(FileSystemTypes::isNetwork("fuse.unknownfs", "user@host:/home/user"));
    EXPECT_FALSE(FileSystemTypes::isNetwork("tmpfs", "tmpfs"));
    EXPECT_FALSE(FileSystemTypes::isNetwork("ext4", "/dev/disk:/odd"));
    EXPECT_FALSE(FileSystemTypes::isNetwork("zfs", "pool/data"));
}

TEST(FileSystemTypes, MacDisksByExactTranslatedName)
{
    for (const char *type : {"hfs", "hfsx", "apfs", "ext4", "btrfs", "xfs", "overlay", "tmpfs", "zfs"})
        EXPECT_TRUE(FileSystemTypes::isMacDisk(type)) << type;
    for (const char *type : {"msdos", "exfat", "ntfs", "smbfs", "nfs", "fusefs", "HFS", "hfsplus", "apfsx", ""})
        EXPECT_FALSE(FileSystemTypes::isMacDisk(type)) << type;
}

TEST(FileSystemTypes, FormatDescriptions)
{
    EXPECT_EQ(FileSystemTypes::localizedFormatDescription("msdos"), "MS-DOS (FAT)");
    // A type without a description shows its own name.
    EXPECT_EQ(FileSystemTypes::localizedFormatDescription("weirdfs"), "weirdfs");
}
