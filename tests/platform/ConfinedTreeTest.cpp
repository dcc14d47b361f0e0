#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ConfinedTree.h"
#include "Error.h"
#include "TestSupport.h"

namespace
{
// Runs each test with openat2 and with the walk one component at a time.
class ConfinedTreeTest : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        ConfinedTree::setOpenat2Allowed(GetParam());
        m_root = m_temporary.file("root");
        m_outside = m_temporary.file("outside");
        ASSERT_EQ(mkdir(m_root.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((m_root + "/a").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((m_root + "/a/b").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(m_outside.c_str(), 0755), 0);
        writeFile(m_root + "/a/b/file", "x");
    }
    void TearDown() override { ConfinedTree::setOpenat2Allowed(true); }

    int errorOpening(const ConfinedTree &tree, const std::string &path)
    {
        try {
            tree.openFolder(path);
        } catch (const Error &error) {
            return static_cast<int>(error.code());
        }
        return 0;
    }

    TemporaryDirectory m_temporary;
    std::string m_root;
    std::string m_outside;
};

bool sameFolder(int fd, const std::string &path)
{
    struct stat opened;
    struct stat named;
    return fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 && opened.st_ino == named.st_ino
        && opened.st_dev == named.st_dev;
}
}

TEST_P(ConfinedTreeTest, OpensFoldersOfTheTreeByTheirFullPaths)
{
    const auto tree = ConfinedTree::openResolved(m_root + "/");
    EXPECT_EQ(tree->rootPath(), m_root);
    EXPECT_TRUE(sameFolder(tree->openFolder(m_root).get(), m_root));
    EXPECT_TRUE(sameFolder(tree->openFolder(m_root + "/a/b").get(), m_root + "/a/b"));
    EXPECT_EQ(tree->relativePath(m_root + "/a/b/"), "a/b");
    EXPECT_EQ(tree->relativePath(m_root + "x/a"), std::nullopt);
    EXPECT_EQ(errorOpening(*tree, m_outside), EXDEV);
    EXPECT_EQ(errorOpening(*tree, m_root + "/a/b/file"), ENOTDIR);
    EXPECT_EQ(errorOpening(*tree, m_root + "/missing"), ENOENT);
}

TEST_P(ConfinedTreeTest, NeverFollowsALinkNorLeavesTheTree)
{
    const auto tree = ConfinedTree::openResolved(m_root);
    // A folder of the tree swapped for a link to a folder outside it.
    ASSERT_EQ(rename((m_root + "/a").c_str(), (m_root + "/moved").c_str()), 0);
    ASSERT_EQ(symlink(m_outside.c_str(), (m_root + "/a").c_str()), 0);
    EXPECT_NE(errorOpening(*tree, m_root + "/a"), 0);
    EXPECT_NE(errorOpening(*tree, m_root + "/a/b"), 0);
    // A relative link inside the tree is refused as well: no link is followed at all.
    ASSERT_EQ(symlink("moved", (m_root + "/inside").c_str()), 0);
    EXPECT_NE(errorOpening(*tree, m_root + "/inside"), 0);
    EXPECT_EQ(errorOpening(*tree, m_root + "/moved/../../outside"), EXDEV);
    EXPECT_FALSE(ConfinedTree::openBeneath(tree->rootFd(), "../outside", O_RDONLY | O_DIRECTORY).isValid());
}

TEST_P(ConfinedTreeTest, BelowTheRootTheKernelsNamesAreTheRootsAndTheSameComponents)
{
    const auto tree = ConfinedTree::openResolved(m_root);
    char real[PATH_MAX];
    ASSERT_TRUE(realpath(m_root.c_str(), real));
    EXPECT_EQ(tree->realPath(m_root), std::string(real));
    EXPECT_EQ(tree->realPath(m_root + "/a/b/"), std::string(real) + "/a/b");
    EXPECT_EQ(tree->realPath(m_outside), std::nullopt) << "named outside the tree";
}

TEST_P(ConfinedTreeTest, ARootResolvedAlreadyIsReachedWithoutAnyLinkOnItsWay)
{
    const auto tree = ConfinedTree::openResolved(m_root + "/a/");
    EXPECT_EQ(tree->rootPath(), m_root + "/a");
    EXPECT_TRUE(sameFolder(tree->openFolder(m_root + "/a/b").get(), m_root + "/a/b"));
    // The same folder named through a link, on the way or at its end, is not reached.
    const std::string link = m_temporary.file("link");
    ASSERT_EQ(symlink(m_root.c_str(), link.c_str()), 0);
    for (const std::string &named : {link + "/a", link, m_root + "/a/../../link/a"}) {
        try {
            ConfinedTree::openResolved(named);
            ADD_FAILURE() << named << " was opened";
        } catch (const Error &error) {
            EXPECT_NE(error.code(), 0) << named;
        }
    }
    EXPECT_THROW(ConfinedTree::openResolved("relative/a"), Error);
}

INSTANTIATE_TEST_SUITE_P(Resolution, ConfinedTreeTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &resolution) {
                             return resolution.param ? std::string("Openat2") : std::string("ComponentByComponent");
                         });
