#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <filesystem>
#include <fcntl.h>
#include <mutex>
#include <optional>

#include "FileDescriptor.h"
#include "MountTable.h"
#include "ScopedMount.h"
#include "TestSupport.h"
#include "VolumeUnmounter.h"

TEST(VolumeUnmounter, TheApprovalRunsOnItsOwnThreadFirstWhileTheCallerGoesOn)
{
    TemporaryDirectory notAMount;
    QThread approvalThread;
    approvalThread.start();
    QObject context;
    context.moveToThread(&approvalThread);

    std::mutex mutex;
    std::condition_variable changed;
    bool callerWentOn = false;
    std::vector<std::string> approvals;
    bool onApprovalThread = false;
    VolumeUnmounter::setApprovalCallback(&context, [&](const std::string &path) {
        std::unique_lock lock(mutex);
        approvals.push_back(path);
        onApprovalThread = QThread::currentThread() == &approvalThread;
        changed.wait(lock, [&] { return callerWentOn; });
    });

    std::optional<bool> unmounted;
    VolumeUnmounter::unmountAndEjectDeviceAtPathAsync(notAMount.path(), [&](bool result) { unmounted = result; });
    {
        std::lock_guard lock(mutex);
        callerWentOn = true;
    }
    changed.notify_all();
    ASSERT_TRUE(runEventLoopUntil([&] { return unmounted.has_value(); }));
    EXPECT_FALSE(*unmounted) << "no mount point: nothing to unmount, and the answer says so";
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(approvals, std::vector<std::string>{notAMount.path()});
        EXPECT_TRUE(onApprovalThread);
    }

    // Without a callback the unmount is tried all the same.
    VolumeUnmounter::clearApprovalCallback(&context);
    unmounted.reset();
    VolumeUnmounter::unmountAndEjectDeviceAtPathAsync(notAMount.path(), [&](bool result) { unmounted = result; });
    ASSERT_TRUE(runEventLoopUntil([&] { return unmounted.has_value(); }));
    EXPECT_FALSE(*unmounted);
    EXPECT_EQ(approvals.size(), 1u);

    approvalThread.quit();
    approvalThread.wait();
}

TEST(VolumeUnmounter, ABusyVolumeIsTriedAgainForAWhileBeforeTheUnmountIsRefused)
{
    if (!isRoot())
        GTEST_SKIP() << "unmounting needs a real mount (run as root)";
    TemporaryDirectory folder;
    const std::string volume = folder.file("Busy");
    std::filesystem::create_directories(volume);
    ScopedMount ram("ramfs", volume);
    ASSERT_TRUE(ram.isMounted()) << ram.failure();

    std::optional<FileDescriptor> holder(std::in_place, open(volume.c_str(), O_PATH | O_CLOEXEC));
    ASSERT_TRUE(holder->isValid());
    std::optional<bool> unmounted;
    VolumeUnmounter::unmountAndEjectDeviceAtPathAsync(volume, [&](bool result) { unmounted = result; });
    ASSERT_TRUE(runEventLoopUntil([&] { return unmounted.has_value(); }, std::chrono::seconds(30)));
    EXPECT_FALSE(*unmounted) << "held open throughout: refused";
    EXPECT_TRUE(MountTable::current().mountAt(volume));

    // Let go while the unmount is still trying: it then goes through.
    unmounted.reset();
    VolumeUnmounter::unmountAndEjectDeviceAtPathAsync(volume, [&](bool result) { unmounted = result; });
    EXPECT_FALSE(runEventLoopUntil([&] { return unmounted.has_value(); }, std::chrono::milliseconds(300)))
        << "a busy volume is not given up at once";
    holder.reset();
    ASSERT_TRUE(runEventLoopUntil([&] { return unmounted.has_value(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(*unmounted);
    EXPECT_FALSE(MountTable::current().mountAt(volume));
}
