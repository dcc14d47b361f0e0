#include "DeviceRoots.h"
#include "DiscRecordingWatcher.h"
#include "KernelRoots.h"
#include "MonotonicClock.h"
#include "OpticalDrives.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
// A pretend machine: /sys, /dev and /proc trees in a temporary folder, and a
// monotonic clock the test moves by hand.
class DiscTest : public testing::Test
{
protected:
    void SetUp() override
    {
        sys = root.file("sys");
        dev = root.file("dev");
        proc = root.file("proc");
        for (const std::string &folder : {sys + "/class/block", dev, proc})
            fs::create_directories(folder);
        DeviceRoots::setDevRootForTesting(dev);
        KernelRoots::setSysRootForTesting(sys);
        KernelRoots::setProcRootForTesting(proc);
        MonotonicClock::setNowForTesting([this] { return now; });
    }

    void TearDown() override
    {
        DeviceRoots::setDevRootForTesting({});
        KernelRoots::setSysRootForTesting({});
        KernelRoots::setProcRootForTesting({});
        MonotonicClock::setNowForTesting({});
    }

    void file(const std::string &path, const std::string &contents)
    {
        fs::create_directories(fs::path(path).parent_path());
        writeFile(path, contents);
    }

    // An optical drive whose SCSI device lists its generic node.
    void addDrive(const std::string &name, const std::string &generic)
    {
        const std::string device = sys + "/devices/" + name;
        file(device + "/block/" + name + "/uevent", "MAJOR=11\nMINOR=0\nDEVNAME=" + name + "\nDEVTYPE=disk\n");
        file(device + "/vendor", "HL-DT-ST\n");
        file(device + "/model", "DVDRAM GH24NSD1 \n");
        fs::create_directories(device + "/scsi_generic/" + generic);
        fs::create_directory_symlink(device + "/block/" + name, sys + "/class/block/" + name);
        fs::create_directory_symlink(device, device + "/block/" + name + "/device");
        file(dev + "/" + name, "");
        file(dev + "/" + generic, "");
    }

    void addProcess(int pid, const std::string &comm, const std::vector<std::string> &arguments)
    {
        const std::string folder = proc + "/" + std::to_string(pid);
        file(folder + "/comm", comm + "\n");
        std::string cmdline;
        for (const std::string &argument : arguments)
            cmdline += argument + '\0';
        file(folder + "/cmdline", cmdline);
        fs::create_directories(folder + "/fd");
        fs::create_directories(folder + "/fdinfo");
    }

    void openFile(int pid, int fd, const std::string &target, int flags)
    {
        const std::string folder = proc + "/" + std::to_string(pid);
        fs::create_symlink(target, folder + "/fd/" + std::to_string(fd));
        char octal[32];
        snprintf(octal, sizeof octal, "0%o", unsigned(flags));
        file(folder + "/fdinfo/" + std::to_string(fd), std::string("pos:\t0\nflags:\t") + octal + "\nmnt_id:\t25\n");
    }

    void endProcess(int pid) { fs::remove_all(proc + "/" + std::to_string(pid)); }

    TemporaryDirectory root;
    std::string sys;
    std::string dev;
    std::string proc;
    MonotonicClock::TimePoint now{std::chrono::hours(1000)};
};

using OpticalDrivesTest = DiscTest;
using DiscRecordingWatcherTest = DiscTest;

TEST_F(OpticalDrivesTest, ListsOpticalDrivesWithTheirGenericNodes)
{
    addDrive("sr1", "sg3");
    addDrive("sr0", "sg0");
    fs::create_directories(sys + "/class/block/sda");
    fs::create_directories(sys + "/class/block/srx");

    const std::vector<OpticalDrive> drives = OpticalDrives::listDrives();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].name, "sr0");
    EXPECT_EQ(drives[0].devicePath, dev + "/sr0");
    EXPECT_EQ(drives[0].genericPaths, std::vector<std::string>{dev + "/sg0"});
    EXPECT_EQ(drives[0].vendor, "HL-DT-ST");
    EXPECT_EQ(drives[0].model, "DVDRAM GH24NSD1");
    EXPECT_EQ(drives[1].genericPaths, std::vector<std::string>{dev + "/sg3"});
}

TEST_F(OpticalDrivesTest, FindsGenericNodesThroughTheirClassWhenTheDeviceListsNone)
{
    addDrive("sr0", "sg0");
    fs::remove_all(sys + "/devices/sr0/scsi_generic");
    fs::create_directories(sys + "/class/scsi_generic/sg2");
    fs::create_directory_symlink(sys + "/devices/sr0", sys + "/class/scsi_generic/sg2/device");
    fs::create_directories(sys + "/devices/other");
    fs::create_directories(sys + "/class/scsi_generic/sg1");
    fs::create_directory_symlink(sys + "/devices/other", sys + "/class/scsi_generic/sg1/device");

    const std::vector<OpticalDrive> drives = OpticalDrives::listDrives();
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].genericPaths, std::vector<std::string>{dev + "/sg2"});
}

TEST(OpticalDrivesFdinfoTest, ReadsTheOctalOpenFlags)
{
    EXPECT_EQ(OpticalDrives::openFlagsFromFdinfo("pos:\t0\nflags:\t0100002\nmnt_id:\t25\n"), 0100002);
    EXPECT_EQ(OpticalDrives::openFlagsFromFdinfo("flags:\t00"), 0);
    for (const char *text : {"pos:\t0\n", "flags:\t0x12\n", "flags:\t\n", "flags:\t0777777777777777\n"})
        EXPECT_EQ(OpticalDrives::openFlagsFromFdinfo(text), std::nullopt) << text;
}

TEST_F(OpticalDrivesTest, AWriterIsAProcessHoldingANodeForWriting)
{
    addDrive("sr0", "sg0");
    addProcess(200, "reader", {"/usr/bin/reader"});
    openFile(200, 3, dev + "/sr0", O_RDONLY | O_NONBLOCK);
    addProcess(300, "brasero", {"/usr/bin/brasero"});
    openFile(300, 4, dev + "/sg0", O_RDWR | O_LARGEFILE);
    openFile(300, 5, root.file("elsewhere"), O_WRONLY);
    addProcess(400, "dd", {"dd"});
    openFile(400, 1, dev + "/sr0", O_WRONLY);
    fs::create_directories(proc + "/self/fd");

    const DiscActivity activity = OpticalDrives::scan();
    ASSERT_EQ(activity.drives.size(), 1u);
    std::vector<int> writers = activity.drives[0].writers;
    std::sort(writers.begin(), writers.end());
    EXPECT_EQ(writers, (std::vector<int>{300, 400}));
    EXPECT_FALSE(activity.virtualMachineRunning);
}

TEST_F(OpticalDrivesTest, ReadsTheRealProcessTable)
{
    // This very process holds the drive's node: the kernel's own fd links and fdinfo are read.
    addDrive("sr0", "sg0");
    KernelRoots::setProcRootForTesting({});
    const int reading = ::open((dev + "/sr0").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reading, 0);
    EXPECT_TRUE(OpticalDrives::scan().drives.at(0).writers.empty());

    const int writing = ::open((dev + "/sg0").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writing, 0);
    const DiscActivity activity = OpticalDrives::scan();
    ::close(writing);
    ::close(reading);
    EXPECT_EQ(activity.drives.at(0).writers, std::vector<int>{int(::getpid())});
}

TEST_F(OpticalDrivesTest, ABurnerNamingTheDriveWritesToIt)
{
    addDrive("sr0", "sg0");
    addDrive("sr1", "sg1");
    fs::create_symlink("sr1", dev + "/dvd");
    addProcess(100, "wodim", {"wodim", "-v", "dev=" + dev + "/sr0", "image.iso"});
    addProcess(101, "growisofs", {"/usr/bin/growisofs", "-Z", dev + "/dvd=image.iso"});
    // Names that are not the drives: another number, and a burner without a device.
    addProcess(102, "xorriso", {"xorriso", "-outdev", "stdio:" + dev + "/sr01"});
    addProcess(103, "cdrecord", {"cdrecord", "dev=1,0,0", "image.iso"});
    addProcess(104, "less", {"less", dev + "/sr0"});

    const DiscActivity activity = OpticalDrives::scan();
    ASSERT_EQ(activity.drives.size(), 2u);
    EXPECT_EQ(activity.drives[0].writers, std::vector<int>{100});
    EXPECT_EQ(activity.drives[1].writers, std::vector<int>{101});
}

TEST_F(OpticalDrivesTest, AVirtualMachineWritingIsNotCountedOutsideVirtualMachines)
{
    addDrive("sr0", "sg0");
    addProcess(300, "qemu-system-x86", {"/usr/bin/qemu-system-x86_64", "-cdrom", dev + "/sr0"});
    openFile(300, 7, dev + "/sr0", O_RDWR);

    const DiscActivity activity = OpticalDrives::scan();
    EXPECT_TRUE(activity.virtualMachineRunning);
    ASSERT_EQ(activity.drives.size(), 1u);
    EXPECT_EQ(activity.drives[0].writers, std::vector<int>{300});
    EXPECT_TRUE(activity.drives[0].writersOutsideVirtualMachines.empty());
}

TEST_F(OpticalDrivesTest, AVirtualMachineIsSeenWithoutAnyDrive)
{
    addProcess(500, "VBoxHeadless", {"/usr/lib/virtualbox/VBoxHeadless", "--startvm", "x"});
    const DiscActivity activity = OpticalDrives::scan();
    EXPECT_TRUE(activity.drives.empty());
    EXPECT_TRUE(activity.virtualMachineRunning);
}

TEST_F(DiscRecordingWatcherTest, NoDriveIsNotBusyUntilADriveAppearsAtTheNextLook)
{
    DiscRecordingWatcher watcher;
    EXPECT_FALSE(watcher.isBusyBurning());

    addDrive("sr0", "sg0");
    addProcess(100, "wodim", {"wodim", "dev=" + dev + "/sr0"});
    now += 1s;
    EXPECT_FALSE(watcher.isBusyBurning()) << "the drives were looked at a moment ago";
    now += 1s;
    EXPECT_TRUE(watcher.isBusyBurning());
}

TEST_F(DiscRecordingWatcherTest, ABurnWithoutVirtualMachineIsBusyUntilItEnds)
{
    addDrive("sr0", "sg0");
    addProcess(100, "cdrecord", {"cdrecord", "dev=" + dev + "/sg0", "image.iso"});
    DiscRecordingWatcher watcher;
    EXPECT_TRUE(watcher.isBusyBurning());
    EXPECT_FALSE(watcher.shouldDoExtraBurningChecks());

    endProcess(100);
    now += 1s;
    EXPECT_TRUE(watcher.isBusyBurning());
    now += 1s;
    EXPECT_FALSE(watcher.isBusyBurning());

    // A drive that goes while busy drops the answer too.
    addProcess(101, "wodim", {"wodim", "dev=" + dev + "/sr0"});
    now += 2s;
    EXPECT_TRUE(watcher.isBusyBurning());
    fs::remove(sys + "/class/block/sr0");
    now += 2s;
    EXPECT_FALSE(watcher.isBusyBurning());
}

TEST_F(DiscRecordingWatcherTest, AVirtualMachineHoldingTheDriveIsNotABurnAndIsAskedAgainAfterFifteenSeconds)
{
    addDrive("sr0", "sg0");
    addProcess(300, "qemu-system-x86", {"qemu-system-x86_64"});
    openFile(300, 7, dev + "/sr0", O_RDWR);
    DiscRecordingWatcher watcher;
    EXPECT_FALSE(watcher.isBusyBurning());
    EXPECT_TRUE(watcher.shouldDoExtraBurningChecks());
    EXPECT_FALSE(watcher.isFinderBurningSomething());

    // The drive stays busy, so its state does not change: the answer is kept.
    addProcess(100, "brasero", {"brasero"});
    openFile(100, 9, dev + "/sg0", O_WRONLY);
    now += 5s;
    EXPECT_TRUE(watcher.isFinderBurningSomething());
    EXPECT_FALSE(watcher.isBusyBurning());
    now += 9s;
    EXPECT_FALSE(watcher.isBusyBurning());
    now += 1s;
    EXPECT_TRUE(watcher.isBusyBurning());
}

TEST_F(DiscRecordingWatcherTest, DetailedLoggingDescribesEachDriveAsked)
{
    addDrive("sr0", "sg0");
    addProcess(100, "wodim", {"wodim", "dev=" + dev + "/sr0"});
    std::mutex mutex;
    std::vector<std::string> lines;
    const int token = SystemLog::addSink([&](const std::string &message) {
        std::lock_guard lock(mutex);
        if (message.rfind("info: ", 0) == 0 || message.rfind("disk recorder", 0) == 0)
            lines.push_back(message);
    });
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value(true), "detailedLogging");
    DiscRecordingWatcher watcher;
    const bool busy = watcher.isBusyBurning();
    defaults.removeObjectForKey("detailedLogging");
    SystemLog::removeSink(token);

    EXPECT_TRUE(busy);
    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("info: { name = sr0; path = " + dev + "/sr0;", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" status: { busy = 1; writers = (100); } Finder Burn: 1"), std::string::npos);
    EXPECT_EQ(lines[1], "disk recorder has captured device.");
}
}
