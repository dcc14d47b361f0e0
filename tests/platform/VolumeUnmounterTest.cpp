#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <optional>

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
