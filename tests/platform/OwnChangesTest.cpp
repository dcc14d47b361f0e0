#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "MonotonicClock.h"
#include "OwnChanges.h"
#include "TestSupport.h"

namespace
{
class OwnChangesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        char resolved[PATH_MAX];
        ASSERT_TRUE(realpath(m_folder.path().c_str(), resolved));
        m_real = resolved;
        m_fd.reset(open(m_folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(m_fd.isValid());
        OwnChanges::beginRecording();
    }

    void TearDown() override
    {
        OwnChanges::endRecording();
        MonotonicClock::setNowForTesting(nullptr);
    }

    TemporaryDirectory m_folder;
    std::string m_real;
    FileDescriptor m_fd;
};
}

TEST_F(OwnChangesTest, EachNoteExplainsItsOwnEventOnce)
{
    OwnChanges::noteRemovalAt(m_fd.get(), ".DS_Store");
    EXPECT_FALSE(OwnChanges::accountFor(m_real + "/.DS_Store", IN_DELETE | IN_CREATE)) << "a creation is not Tarnwick's";
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/.DS_Store", IN_DELETE));
    EXPECT_FALSE(OwnChanges::accountFor(m_real + "/.DS_Store", IN_DELETE)) << "used up";

    OwnChanges::noteScratchFileAt(m_fd.get(), ".tarnwick-a.zip.x1");
    OwnChanges::noteReplacementAt(m_fd.get(), "a.zip");
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/.tarnwick-a.zip.x1", IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_FROM));
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/.tarnwick-a.zip.x1", IN_ATTRIB)) << "a scratch note is not used up";
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/a.zip", IN_MOVED_TO));
    EXPECT_FALSE(OwnChanges::accountFor(m_real + "/a.zip", IN_MOVED_TO));
}

TEST_F(OwnChangesTest, NotesTheStreamHasUsedUpAreNotKept)
{
    OwnChanges::noteRemovalAt(m_fd.get(), "a");
    OwnChanges::noteRemovalAt(m_fd.get(), "b");
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/b", IN_DELETE));
    EXPECT_TRUE(OwnChanges::mayAccountFor()) << "a is still to come";
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/a", IN_DELETE));
    EXPECT_FALSE(OwnChanges::mayAccountFor()) << "nothing is kept once every note is used up";
    OwnChanges::noteRemovalAt(m_fd.get(), "a");
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/a", IN_DELETE)) << "a name noted again is noted afresh";
}

TEST_F(OwnChangesTest, ARemovedTreeExplainsEverythingBelowItUntilItExpires)
{
    MonotonicClock::TimePoint now = MonotonicClock::now();
    MonotonicClock::setNowForTesting([&now] { return now; });
    OwnChanges::noteTreeRemovalAt(m_fd.get(), "Tree");
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/Tree", IN_DELETE));
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/Tree/a/b", IN_DELETE | IN_ATTRIB));
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/Tree/a/b", IN_DELETE)) << "not used up";
    EXPECT_FALSE(OwnChanges::accountFor(m_real + "/Tree2/a", IN_DELETE)) << "only below the folder itself";
    EXPECT_FALSE(OwnChanges::accountFor(m_real, IN_ATTRIB));

    now += OwnChanges::lifetime + std::chrono::seconds(1);
    EXPECT_FALSE(OwnChanges::accountFor(m_real + "/Tree/a/b", IN_DELETE));
}

TEST_F(OwnChangesTest, NotesAreBoundedAndOnlyKeptWhileAStreamRuns)
{
    for (std::size_t index = 0; index <= OwnChanges::capacity; ++index)
        OwnChanges::noteRemovalAt(m_fd.get(), "f" + std::to_string(index));
    EXPECT_FALSE(OwnChanges::accountFor(m_real + "/f0", IN_DELETE)) << "the oldest gave way";
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/f1", IN_DELETE));

    OwnChanges::endRecording();
    EXPECT_FALSE(OwnChanges::isRecording());
    OwnChanges::noteRemovalAt(m_fd.get(), "late");
    OwnChanges::beginRecording();
    EXPECT_FALSE(OwnChanges::accountFor(m_real + "/late", IN_DELETE));
    EXPECT_FALSE(OwnChanges::accountFor(m_real + "/f2", IN_DELETE)) << "dropped when the last stream ended";
}

TEST_F(OwnChangesTest, AFolderBeingChangedNamesItsEntriesByItsRealPathAmongOtherFolders)
{
    // The folder is opened through a link to it, as a clean of a linked root opens it.
    TemporaryDirectory elsewhere;
    const std::string link = elsewhere.file("link");
    ASSERT_EQ(symlink(m_real.c_str(), link.c_str()), 0);
    const FileDescriptor viaLink(open(link.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(viaLink.isValid());
    ASSERT_EQ(mkdir((m_real + "/sub").c_str(), 0755), 0);
    const FileDescriptor sub(open((m_real + "/sub").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    {
        OwnChanges::FolderBeingChanged folder(viaLink.get());
        OwnChanges::noteRemovalAt(viaLink.get(), "a");
        {
            OwnChanges::FolderBeingChanged inner(sub.get());
            OwnChanges::noteRemovalAt(sub.get(), "b");
            OwnChanges::noteAttributeRemovalAt(viaLink.get(), "c");
        }
        OwnChanges::noteRemovalAt(viaLink.get(), "d");
    }
    OwnChanges::noteRemovalAt(sub.get(), "e");
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/a", IN_DELETE));
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/sub/b", IN_DELETE));
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/c", IN_ATTRIB));
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/d", IN_DELETE));
    EXPECT_TRUE(OwnChanges::accountFor(m_real + "/sub/e", IN_DELETE));

    // The root folder's entries are named as the stream names them.
    {
        OwnChanges::FolderBeingChanged root(sub.get(), std::string("/"));
        OwnChanges::noteRemovalAt(sub.get(), "f");
    }
    EXPECT_TRUE(OwnChanges::accountFor("/f", IN_DELETE));
}
