#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../engine/EngineFixture.h"
#include "Core.h"
#include "LogCapture.h"
#include "MountTable.h"
#include "MountWatcher.h"
#include "NotificationCenter.h"
#include "Pasteboard.h"
#include "ScopedMount.h"
#include "StatisticsManager.h"
#include "StoreTestEnvironment.h"
#include "ScriptedPrompts.h"
#include "UserNotificationAlert.h"
#include "XTWStore.h"

using namespace std::chrono_literals;
using CleanMode = XFSDiskOrDirectory::CleanMode;

namespace
{
void postMount(const std::string &path)
{
    NotificationCenter::workspaceCenter().post(NotificationCenter::DidMountNotification, nullptr,
                                               Dictionary{{NotificationCenter::DevicePathKey, Value(path)}});
}

std::optional<XFSDiskOrDirectory> userRecordFor(const std::string &path)
{
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories()) {
        if (record.path() == path)
            return record;
    }
    return std::nullopt;
}

void setBuiltInModes(CleanMode mode)
{
    XTWStore &store = XTWStore::shared();
    store.update(store.detailsForDisks().copyWithNewCleanMode(mode));
    store.update(store.detailsForServers().copyWithNewCleanMode(mode));
}

// The background jobs after a mount wait far beyond any test; the question comes quickly.
Core::Timing quickQuestions(double promptTimeout = 60)
{
    Core::Timing timing;
    timing.askToCleanDiskDelay = 0.2f;
    timing.accessSecurityScopedSourceItemsDelay = 3600;
    timing.cleanAllVolumesDelay = 3600;
    timing.promptTimeout = promptTimeout;
    return timing;
}
}

// A Core of the test's own on the scripted disks, every non-Mac disk and server in ask mode.
class CoreTest : public testing::Test
{
protected:
    void SetUp() override
    {
        XTWStore::shared().load();
        setBuiltInModes(CleanMode::askToClean);
        UserNotificationAlert::setPresenter(m_prompts);
    }

    void TearDown() override
    {
        if (m_core) {
            m_prompts->immediateResponse = UserNotificationAlert::alternateResponse;
            m_prompts->answerPending(UserNotificationAlert::alternateResponse);
            EXPECT_TRUE(idle()) << "a prompt was still open";
            m_core.reset();
        }
        UserNotificationAlert::setPresenter(nullptr);
    }

    void start(Core::Timing timing = quickQuestions())
    {
        m_core = Core::create(timing);
        m_core->prepare();
    }

    bool waitForPrompts(std::size_t count)
    {
        return runEventLoopUntil([&] { return m_prompts->contents.size() >= count; });
    }

    // No prompt showing and none waiting.
    bool idle()
    {
        return runEventLoopUntil([&] {
            return m_core->autoCleanQuestionDisksInProgress().empty() && m_core->autoCleanQuestionDisks().empty();
        });
    }

    StoreTestEnvironment m_environment;
    std::shared_ptr<ScriptedPrompts> m_prompts = std::make_shared<ScriptedPrompts>();
    std::shared_ptr<Core> m_core;
};

TEST_F(CoreTest, DisksMountedTogetherAreAskedAboutInOnePromptAndKeptClean)
{
    start();
    const std::string stick = m_environment.volume("STICK");
    const std::string ntfs = m_environment.volume("NTFS");
    const std::string share = m_environment.volume("Share");
    postMount(stick);
    postMount(ntfs);
    postMount(stick); // already waiting: not queued twice
    postMount(share);
    EXPECT_EQ(m_core->autoCleanQuestionDisks(), (std::vector<std::string>{stick, ntfs, share}));

    m_prompts->immediateResponse = UserNotificationAlert::defaultResponse;
    ASSERT_TRUE(waitForPrompts(1));
    ASSERT_TRUE(idle());
    runEventLoopFor(400ms);
    ASSERT_EQ(m_prompts->contents.size(), 1u);

    const UserNotificationAlert::Content &prompt = m_prompts->contents.front();
    EXPECT_EQ(prompt.header, "Would you like Tarnwick to keep the disks STICK, NTFS and Share clean?");
    EXPECT_EQ(prompt.defaultButton + "/" + prompt.alternateButton + "/" + prompt.otherButton,
              "Keep Clean/Ask Next Time/Don't Clean");
    EXPECT_EQ(prompt.level(), UserNotificationAlert::cautionLevel);
    EXPECT_EQ(prompt.timeout, 60);

    for (const std::string &disk : {stick, ntfs, share}) {
        const std::optional<XFSDiskOrDirectory> record = userRecordFor(disk);
        ASSERT_TRUE(record) << disk;
        EXPECT_EQ(record->mode(), CleanMode::alwaysClean) << disk;
        EXPECT_FALSE(m_core->shouldAskToCleanDisk(disk));
    }
    EXPECT_EQ(m_environment.sourceItemsOnDisk().size(), 5u) << "the three records and the two built-ins are saved";
}

TEST_F(CoreTest, ADiskMountedWhileThePromptShowsIsAskedAboutAfterTheAnswer)
{
    start();
    const std::string stick = m_environment.volume("STICK");
    const std::string ntfs = m_environment.volume("NTFS");
    postMount(stick);
    ASSERT_TRUE(waitForPrompts(1));
    postMount(ntfs);
    // Its own request comes due while the first prompt still shows, and waits.
    runEventLoopFor(600ms);
    EXPECT_EQ(m_prompts->contents.size(), 1u);
    EXPECT_EQ(m_core->autoCleanQuestionDisksInProgress(), std::vector<std::string>{stick});
    EXPECT_EQ(m_core->autoCleanQuestionDisks(), std::vector<std::string>{ntfs});

    m_prompts->answerPending(UserNotificationAlert::alternateResponse);
    ASSERT_TRUE(waitForPrompts(2));
    EXPECT_EQ(m_prompts->contents.back().header, "Would you like Tarnwick to keep the disk \"NTFS\" clean?");
    EXPECT_EQ(m_core->autoCleanQuestionDisksInProgress(), std::vector<std::string>{ntfs});
    m_prompts->answerPending(UserNotificationAlert::otherResponse);
    ASSERT_TRUE(idle());

    EXPECT_FALSE(userRecordFor(stick)) << "\"Ask Next Time\" stores nothing";
    EXPECT_TRUE(m_core->shouldAskToCleanDisk(stick));
    ASSERT_TRUE(userRecordFor(ntfs));
    EXPECT_EQ(userRecordFor(ntfs)->mode(), CleanMode::ignore);
    EXPECT_FALSE(m_core->shouldAskToCleanDisk(ntfs));

    // "Don't Clean" is final; the unanswered disk is asked about again at its next mount.
    m_prompts->immediateResponse = UserNotificationAlert::alternateResponse;
    postMount(ntfs);
    postMount(stick);
    ASSERT_TRUE(waitForPrompts(3));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_prompts->contents.back().header, "Would you like Tarnwick to keep the disk \"STICK\" clean?");
}

TEST_F(CoreTest, TimedOutAndFailedPromptsStoreNothing)
{
    LogCapture log;
    start(quickQuestions(0.3));
    const std::string stick = m_environment.volume("STICK");
    postMount(stick);
    ASSERT_TRUE(waitForPrompts(1));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_prompts->shown.front()->withdrawn);
    // The window's answer after the time-out counts for nothing.
    m_prompts->answerPending(UserNotificationAlert::defaultResponse);

    m_prompts->refuse = true;
    postMount(stick);
    ASSERT_TRUE(waitForPrompts(2));
    ASSERT_TRUE(idle());
    UserNotificationAlert::setPresenter(nullptr);
    postMount(stick);
    ASSERT_TRUE(runEventLoopUntil([&] { return log.countContaining("could not be shown; nothing was stored") == 2; }));
    ASSERT_TRUE(idle());
    EXPECT_FALSE(userRecordFor(stick)) << "a failed prompt is not \"Keep Clean\"";
}

TEST_F(CoreTest, AnUnmountedDiskIsNeitherNamedNorRecorded)
{
    start();
    const std::string stick = m_environment.volume("STICK");
    const std::string ntfs = m_environment.volume("NTFS");
    const std::string share = m_environment.volume("Share");
    postMount(stick);
    postMount(ntfs);
    postMount(share);
    m_environment.source().setMissing(share); // gone while it waits
    ASSERT_TRUE(waitForPrompts(1));
    EXPECT_EQ(m_prompts->contents.front().header, "Would you like Tarnwick to keep the disks STICK and NTFS clean?");
    // The prompt's thread has its names; the stick goes while the question shows.
    m_environment.source().setMissing(stick);
    m_prompts->answerPending(UserNotificationAlert::defaultResponse);
    ASSERT_TRUE(idle());
    EXPECT_FALSE(userRecordFor(stick));
    EXPECT_FALSE(userRecordFor(share));
    ASSERT_TRUE(userRecordFor(ntfs));
    EXPECT_EQ(userRecordFor(ntfs)->mode(), CleanMode::alwaysClean);
}

TEST_F(CoreTest, MacReadOnlyIgnoredAndDecidedDisksAreNeverAsked)
{
    start();
    for (const char *disk : {"MacDisk", "ROStick", "EFI", "ExpanDrive"}) {
        EXPECT_FALSE(m_core->shouldAskToCleanDisk(m_environment.volume(disk))) << disk;
        postMount(m_environment.volume(disk));
    }
    m_environment.source().setMissing(m_environment.volume("STICK") + "/Gone");
    EXPECT_FALSE(m_core->shouldAskToCleanDisk(m_environment.volume("STICK") + "/Gone")) << "no volume facts";
    EXPECT_TRUE(m_core->shouldAskToCleanDisk(m_environment.volume("STICK")));

    // The built-ins decide for disks without a record of their own.
    setBuiltInModes(CleanMode::alwaysClean);
    EXPECT_FALSE(m_core->shouldAskToCleanDisk(m_environment.volume("STICK")));
    EXPECT_TRUE(m_core->autoCleanQuestionDisks().empty());
    runEventLoopFor(500ms);
    EXPECT_TRUE(m_prompts->contents.empty());
}

TEST_F(CoreTest, EveryMountClearsTheStatisticsHistoryAndRefreshesTheVolumes)
{
    start();
    StatisticsManager &statistics = StatisticsManager::shared();
    const URL item = URL::fileURLWithPath(m_environment.volume("STICK") + "/.DS_Store");
    bool tooOften = false;
    for (int request = 0; request < 11; ++request)
        tooOften = statistics.hasBeenDeletedTooOften(item);
    ASSERT_TRUE(tooOften);
    m_core->setLocalVolumeList({});

    postMount(m_environment.volume("MacDisk"));
    EXPECT_FALSE(statistics.hasBeenDeletedTooOften(item)) << "the chain of requests starts again";
    EXPECT_EQ(m_core->localVolumeList(), Core::buildRWVolumeURLList());
    EXPECT_FALSE(m_core->localVolumeList().empty());
}

// The entry through which other applications hand over items to clean.
class CoreServiceTest : public EngineFixture
{
protected:
    std::shared_ptr<Core> m_core = Core::create(quickQuestions());
};

TEST_F(CoreServiceTest, FileNamesAreCleanedAndAnythingElseIsIgnored)
{
    const std::string dsStore = file(".DS_Store");
    Pasteboard text;
    text.setPropertyList(Value("some text"), Pasteboard::stringType);
    m_core->cleanItemService(text, "", nullptr);
    for (const Value &wrongShape : {Value(m_docs), Value(Array{Value(m_docs), Value(42)})}) {
        Pasteboard pasteboard;
        pasteboard.setPropertyList(wrongShape, Pasteboard::filenamesType);
        m_core->cleanService(pasteboard);
    }

    LogCapture log;
    m_core->cleanService(Pasteboard::withFileNames({m_docs, "Docs"}));
    EXPECT_EQ(log.countContaining("absolute paths"), 1u);

    runEventLoopFor(300ms);
    EXPECT_TRUE(m_windows->m_displays.empty());
    EXPECT_TRUE(fileExists(dsStore));
    EXPECT_FALSE(userRecordFor(m_docs));

    Pasteboard both;
    both.setPropertyList(Value("some text"), Pasteboard::stringType);
    both.setPropertyList(Value(Array{Value(m_docs)}), Pasteboard::filenamesType);
    m_core->cleanItemService(both, "", nullptr);
    ASSERT_TRUE(waitForFinishedRuns(1));
    EXPECT_FALSE(fileExists(dsStore));
    ASSERT_TRUE(userRecordFor(m_docs));
    EXPECT_EQ(userRecordFor(m_docs)->mode(), CleanMode::alwaysClean);
}

namespace
{
std::string realPathOf(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : "";
}

// The kernel's table less the mounts outside one folder: tests running beside this one mount
// disks of their own, which are none of its business.
class KernelMountsBelow : public MountInfoSource
{
public:
    explicit KernelMountsBelow(std::string folder)
        : m_folder(std::move(folder) + "/")
    {
    }

    std::optional<std::string> read() const override
    {
        const std::optional<std::string> text = m_kernel.read();
        if (!text)
            return text;
        std::string kept;
        std::istringstream lines(*text);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string field;
            for (int index = 0; index < 5; ++index)
                fields >> field;
            if (MountTable::unescape(field).starts_with(m_folder))
                kept += line + "\n";
        }
        return kept;
    }

private:
    ProcMountInfoSource m_kernel;
    std::string m_folder;
};
}

// Real disks in the environment's volumes folder: the system's volume facts and the kernel's table.
class CoreRealDiskTest : public CoreTest
{
protected:
    void SetUp() override
    {
        if (!isRoot())
            GTEST_SKIP() << "mounting a ramfs needs root";
        ASSERT_EQ(realPathOf(m_environment.volumesFolder()), m_environment.volumesFolder())
            << "mount points are named by their real paths";
        CoreTest::SetUp();
    }

    std::string makeMountPoint(const std::string &name)
    {
        const std::string mountPoint = m_environment.volume(name);
        std::filesystem::create_directory(mountPoint);
        return mountPoint;
    }

    ScopedVolumeFactsSource m_systemFacts{std::make_shared<SystemVolumeFactsSource>()};
};

TEST_F(CoreRealDiskTest, AMountedRamDiskIsAskedAboutOnceStoredAndItsRootCleaned)
{
    // The real delays of the background jobs; a quick question.
    Core::Timing timing;
    timing.askToCleanDiskDelay = 0.2f;
    start(timing);
    MountWatcher watcher(std::make_shared<KernelMountsBelow>(m_environment.volumesFolder()), 50ms);
    watcher.start();

    m_prompts->immediateResponse = UserNotificationAlert::defaultResponse;
    // tmpfs is one of the system's own formats; ramfs keeps no attributes of its own.
    ScopedMount tmpfs("tmpfs", makeMountPoint("TMPDISK"));
    const std::string mountPoint = makeMountPoint("RAMDISK");
    ScopedMount ramfs("ramfs", mountPoint);
    ASSERT_TRUE(ramfs.isMounted() && tmpfs.isMounted()) << ramfs.failure() << tmpfs.failure();
    std::filesystem::create_directory(mountPoint + "/.Trashes");
    writeFile(mountPoint + "/.Trashes/old", "x");

    ASSERT_TRUE(waitForPrompts(1));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_prompts->contents.front().header, "Would you like Tarnwick to keep the disk \"RAMDISK\" clean?");
    ASSERT_TRUE(userRecordFor(mountPoint));
    EXPECT_EQ(userRecordFor(mountPoint)->mode(), CleanMode::alwaysClean);

    // Some ten seconds after the first mount request, every writable volume's root is cleaned.
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(mountPoint + "/.Trashes"); }, 60s));
    EXPECT_EQ(m_prompts->contents.size(), 1u);
    watcher.stop();
}
