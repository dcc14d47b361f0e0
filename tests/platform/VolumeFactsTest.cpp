#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "DeviceRoots.h"
#include "MountTable.h"
#include "ScopedMount.h"
#include "TestSupport.h"
#include "VolumeFacts.h"

namespace
{
std::string realPathOf(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : "";
}

// Whether a `user.` attribute can really be written in the folder: the truth the probe must match.
bool canStoreUserAttribute(const std::string &folder)
{
    const std::string file = folder + "/attribute-test";
    writeFile(file, "x");
    const bool stored = setxattr(file.c_str(), "user.test", "1", 1, 0) == 0;
    unlink(file.c_str());
    return stored;
}

std::string mountFolder(const TemporaryDirectory &temporary, const std::string &name)
{
    const std::string folder = realPathOf(temporary.path()) + "/" + name;
    mkdir(folder.c_str(), 0755);
    return folder;
}
}

TEST(VolumeFacts, FactsOfTheTemporaryFolderMatchTheSystem)
{
    TemporaryDirectory temporary;
    const std::optional<VolumeFacts> facts = VolumeFacts::forPath(temporary.path());
    ASSERT_TRUE(facts);
    const std::optional<MountEntry> mount = MountTable::current().mountForPath(realPathOf(temporary.path()));
    ASSERT_TRUE(mount);
    EXPECT_EQ(facts->mountPoint, mount->mountPoint);
    EXPECT_EQ(facts->kernelFileSystemType, mount->fileSystemType);
    EXPECT_EQ(facts->source, mount->source);

    struct statvfs status;
    ASSERT_EQ(statvfs(temporary.path().c_str(), &status), 0);
    EXPECT_EQ(facts->blockSize, status.f_frsize);
    EXPECT_EQ(facts->blockCount, status.f_blocks);
    EXPECT_EQ(facts->isReadOnly, (status.f_flag & ST_RDONLY) != 0);
    EXPECT_EQ(facts->hasNativeExtendedAttributes, canStoreUserAttribute(temporary.path()));
    EXPECT_FALSE(facts->localizedFormatDescription.empty());
}

TEST(VolumeFacts, MissingPathHasNoFacts)
{
    EXPECT_FALSE(VolumeFacts::forPath("/nonexistent/tarnwick/volume"));
}

TEST(VolumeFacts, LabelComesFromTheLinkToTheSourceDevice)
{
    TemporaryDirectory temporary;
    const std::string dev = temporary.path() + "/dev";
    ASSERT_EQ(mkdir(dev.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dev + "/disk").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dev + "/disk/by-label").c_str(), 0755), 0);
    writeFile(dev + "/sdb1", "");
    writeFile(dev + "/sdc1", "");
    ASSERT_EQ(symlink("../../sdc1", (dev + "/disk/by-label/Other").c_str()), 0);
    ASSERT_EQ(symlink("../../sdb1", (dev + "/disk/by-label/My\\x20Stick").c_str()), 0);
    DeviceRoots::setDevRootForTesting(dev);

    EXPECT_EQ(VolumeFacts::labelForSource("/dev/sdb1"), "My Stick");
    EXPECT_EQ(VolumeFacts::labelForSource("/dev/sdc1"), "Other");
    EXPECT_FALSE(VolumeFacts::labelForSource("/dev/sdd1"));
    EXPECT_FALSE(VolumeFacts::labelForSource("tmpfs"));
    EXPECT_FALSE(VolumeFacts::labelForSource("server:/export"));
    DeviceRoots::setDevRootForTesting({});
}

TEST(VolumeFacts, HiddenMounts)
{
    EXPECT_TRUE(VolumeFacts::isHiddenMount("/run/user/1000", "tmpfs", "1000"));
    EXPECT_TRUE(VolumeFacts::isHiddenMount("/sys/fs/cgroup", "tmpfs", "cgroup"));
    EXPECT_TRUE(VolumeFacts::isHiddenMount("/boot/efi", "vfat", "efi"));
    EXPECT_TRUE(VolumeFacts::isHiddenMount("/snap/core/1", "squashfs", "1"));
    EXPECT_TRUE(VolumeFacts::isHiddenMount("/home/me/proc", "proc", "proc"));
    EXPECT_TRUE(VolumeFacts::isHiddenMount("/mnt/.snapshots", "btrfs", ".snapshots"));

    EXPECT_FALSE(VolumeFacts::isHiddenMount("/run/media/me/Stick", "vfat", "Stick"));
    EXPECT_FALSE(VolumeFacts::isHiddenMount("/runner/disk", "ext4", "disk"));
    EXPECT_FALSE(VolumeFacts::isHiddenMount("/devices", "ext4", "devices"));
    EXPECT_FALSE(VolumeFacts::isHiddenMount("/", "ext4", "/"));
    EXPECT_FALSE(VolumeFacts::isHiddenMount("/mnt/ram", "tmpfs", "ram"));
}

TEST(VolumeFacts, RealTmpfs)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    TemporaryDirectory temporary;
    const std::string folder = mountFolder(temporary, "Memory Disk");
    ScopedMount mounted("tmpfs", folder);
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();

    const std::optional<VolumeFacts> facts = VolumeFacts::forPath(folder);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->mountPoint, folder);
    EXPECT_EQ(facts->fileSystemType, "tmpfs");
    EXPECT_EQ(facts->source, "tmpfs");
    EXPECT_EQ(facts->name, "Memory Disk");
    EXPECT_EQ(facts->localizedName, "Memory Disk");
    EXPECT_TRUE(facts->isLocal);
    EXPECT_FALSE(facts->isReadOnly);
    EXPECT_FALSE(facts->isHidden);
    EXPECT_GT(facts->blockSize, 0u);
    EXPECT_GT(facts->blockCount, 0u);
    // tmpfs keeps user attributes on some kernels only: the probe must tell which.
    EXPECT_EQ(facts->hasNativeExtendedAttributes, canStoreUserAttribute(folder));
}

TEST(VolumeFacts, RealRamfsKeepsNoAttributes)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a ramfs needs root";
    TemporaryDirectory temporary;
    const std::string folder = mountFolder(temporary, "ram");
    ScopedMount mounted("ramfs", folder);
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();

    const std::optional<VolumeFacts> facts = VolumeFacts::forPath(folder + "/");
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->fileSystemType, "ramfs");
    EXPECT_FALSE(canStoreUserAttribute(folder));
    EXPECT_FALSE(facts->hasNativeExtendedAttributes);
    EXPECT_FALSE(VolumeFacts::probeNativeExtendedAttributes(folder));
}

TEST(VolumeFacts, RealReadOnlyVolume)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    TemporaryDirectory temporary;
    const std::string folder = mountFolder(temporary, "ro");
    ScopedMount mounted("tmpfs", folder, true);
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();
    const std::optional<VolumeFacts> facts = VolumeFacts::forPath(folder);
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->isReadOnly);
    EXPECT_EQ(facts->mountPoint, folder);
}

TEST(VolumeFacts, RealExfatDiskThroughFuse)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting an exFAT image needs root";
    TemporaryDirectory temporary;
    const std::string image = temporary.path() + "/disk.img";
    writeFile(image, "");
    ASSERT_EQ(truncate(image.c_str(), 16 << 20), 0);
    if (std::system(("mkfs.exfat -L Stick " + image + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "mkfs.exfat (exfatprogs) is not available";
    const std::string folder = mountFolder(temporary, "exfat");
    ScopedMount mounted = ScopedMount::exfatImage(image, folder);
    if (!mounted.isMounted())
        GTEST_SKIP() << "exfat-fuse could not mount the image: " << mounted.failure();

    const std::optional<VolumeFacts> facts = VolumeFacts::forPath(folder);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->kernelFileSystemType, "fuseblk");
    EXPECT_EQ(facts->fileSystemType, "exfat");
    EXPECT_EQ(facts->localizedFormatDescription, "ExFAT");
    EXPECT_TRUE(facts->isLocal);
    EXPECT_FALSE(facts->hasNativeExtendedAttributes);
    EXPECT_FALSE(canStoreUserAttribute(folder));
}
