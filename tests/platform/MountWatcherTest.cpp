#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "MainThread.h"
#include "MountTable.h"
#include "MountWatcher.h"
#include "NotificationCenter.h"
#include "ScopedMount.h"
#include "TestSupport.h"

using namespace std::chrono_literals;

namespace
{
const std::string rootLine = "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n";
const std::string stickLine = "60 27 8:17 / /media/me/My\\040Stick rw,nosuid shared:40 - vfat /dev/sdb1 rw\n";
const std::string shareLine = "61 27 0:50 / /mnt/share rw shared:41 - cifs //nas/share rw\n";
const std::string remountedShareLine = "75 27 0:51 / /mnt/share rw shared:42 - cifs //nas/share rw\n";
// Mounts no user sees as disks.
const std::string systemLines = "80 27 0:22 / /proc/fs/nfsd rw - nfsd nfsd rw\n"
                                "81 27 0:23 / /run/user/1000 rw - tmpfs tmpfs rw\n";

// Keeps "mount PATH" / "unmount PATH" for each notice the workspace centre carries while it lives.
class NoticeRecorder
{
public:
    NoticeRecorder()
        : m_token(NotificationCenter::workspaceCenter().addObserver(
            "", nullptr, nullptr, [this](const Notification &notification) {
                const auto path = notification.userInfo.find(NotificationCenter::DevicePathKey);
                const bool mount = notification.name == NotificationCenter::DidMountNotification;
                if ((mount || notification.name == NotificationCenter::DidUnmountNotification)
                    && path != notification.userInfo.end() && path->second.asString()) {
                    notices.push_back((mount ? "mount " : "unmount ") + *path->second.asString());
                    allOnMainThread = allOnMainThread && MainThread::isCurrent();
                }
            }))
    {
    }
    ~NoticeRecorder() { NotificationCenter::workspaceCenter().removeObserver(m_token); }
    NoticeRecorder(const NoticeRecorder &) = delete;
    NoticeRecorder &operator=(const NoticeRecorder &) = delete;

    bool waitFor(std::size_t count)
    {
        return runEventLoopUntil([&] { return notices.size() >= count; });
    }
    std::vector<std::string> about(const std::string &path) const
    {
        std::vector<std::string> found;
        for (const std::string &notice : notices) {
            if (notice.ends_with(" " + path))
                found.push_back(notice);
        }
        return found;
    }

    std::vector<std::string> notices;
    bool allOnMainThread = true;

private:
    NotificationCenter::ObserverToken m_token;
};
}

TEST(MountWatcher, PostsTheDifferencesOfTheTableOnTheMainThread)
{
    auto source = std::make_shared<ScriptedMountInfoSource>(rootLine + stickLine + systemLines);
    NoticeRecorder recorder;
    MountWatcher watcher(source, 10ms);
    watcher.start();

    // What was there at the start is not news; system mounts come and go unannounced.
    source->setText(rootLine + stickLine + shareLine + systemLines);
    ASSERT_TRUE(recorder.waitFor(1));
    source->setText(rootLine + shareLine);
    ASSERT_TRUE(recorder.waitFor(2));
    // Mounted again at the same place: a different mount, so it goes and comes.
    source->setText(rootLine + remountedShareLine);
    ASSERT_TRUE(recorder.waitFor(4));
    EXPECT_EQ(recorder.notices, (std::vector<std::string>{"mount /mnt/share", "unmount /media/me/My Stick",
                                                          "unmount /mnt/share", "mount /mnt/share"}));
    EXPECT_TRUE(recorder.allOnMainThread);

    watcher.stop();
    EXPECT_FALSE(watcher.isRunning());
    source->setText(rootLine + remountedShareLine + stickLine);
    runEventLoopFor(200ms);
    EXPECT_EQ(recorder.notices.size(), 4u) << "a stopped watcher posts nothing";

    // Started again, it starts from the table as it is then.
    watcher.start();
    source->setText(rootLine + stickLine);
    ASSERT_TRUE(recorder.waitFor(5));
    EXPECT_EQ(recorder.notices.back(), "unmount /mnt/share");
}

TEST(MountWatcher, NoticesARealMountAndUnmountAtOnce)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a ramfs needs root";
    TemporaryDirectory folder;
    std::filesystem::create_directory(folder.file("RAM Disk"));
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(folder.file("RAM Disk").c_str(), resolved), nullptr);
    const std::string mountPoint = resolved;

    NoticeRecorder recorder;
    // The kernel wakes the watcher: far sooner than its hour-long interval.
    MountWatcher watcher(std::make_shared<ProcMountInfoSource>(), 1h);
    watcher.start();
    {
        ScopedMount ramfs("ramfs", mountPoint);
        ASSERT_TRUE(ramfs.isMounted()) << ramfs.failure();
        ASSERT_TRUE(runEventLoopUntil([&] { return !recorder.about(mountPoint).empty(); }));
    }
    ASSERT_TRUE(runEventLoopUntil([&] { return recorder.about(mountPoint).size() >= 2; }));
    EXPECT_EQ(recorder.about(mountPoint), (std::vector<std::string>{"mount " + mountPoint, "unmount " + mountPoint}));
}
