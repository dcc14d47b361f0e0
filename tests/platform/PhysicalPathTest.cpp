#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "PhysicalPath.h"
#include "TestSupport.h"

namespace
{
std::optional<std::string> realPathOf(const std::string &path)
{
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return std::nullopt;
    return std::string(resolved);
}
}

TEST(PhysicalPath, AgreesWithRealpath)
{
    TemporaryDirectory temporary;
    const std::string root = temporary.path();
    ASSERT_EQ(mkdir((root + "/a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/a/b").c_str(), 0755), 0);
    writeFile(root + "/a/b/file", "x");
    writeFile(root + "/a/b/kept (deleted)", "x");
    ASSERT_EQ(symlink("a/b", (root + "/link").c_str()), 0);
    ASSERT_EQ(symlink("../b/file", (root + "/a/b/to-file").c_str()), 0);
    ASSERT_EQ(symlink("/", (root + "/to-root").c_str()), 0);

    for (const std::string &path :
         {root, root + "/a/b", root + "//a/./b/", root + "/a/b/../b/file", root + "/link/file", root + "/link/to-file",
          root + "/a/b/kept (deleted)", root + "/to-root", std::string("/"), root + "/link/.."}) {
        SCOPED_TRACE(path);
        const std::optional<std::string> expected = realPathOf(path);
        ASSERT_TRUE(expected);
        EXPECT_EQ(physicalPath(path), expected);
    }
}

TEST(PhysicalPath, UnreachableItemsHaveNone)
{
    TemporaryDirectory temporary;
    const std::string root = temporary.path();
    writeFile(root + "/file", "x");
    ASSERT_EQ(symlink("missing", (root + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop", (root + "/loop").c_str()), 0);

    EXPECT_FALSE(physicalPath(""));
    EXPECT_FALSE(physicalPath(root + "/missing"));
    EXPECT_FALSE(physicalPath(root + "/dangling"));
    EXPECT_FALSE(physicalPath(root + "/loop"));
    EXPECT_FALSE(physicalPath(root + "/file/below"));
}

// The case a walk meets: a chain of folders far deeper than any link lookup would like.
TEST(PhysicalPath, DeepChainThroughALink)
{
    TemporaryDirectory temporary;
    std::string folder = temporary.path() + "/top";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(symlink("top", (temporary.path() + "/alias").c_str()), 0);
    std::string viaAlias = temporary.path() + "/alias";
    for (int depth = 0; depth < 500; ++depth) {
        folder += "/d";
        viaAlias += "/d";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    }
    EXPECT_EQ(physicalPath(viaAlias), realPathOf(folder));
}
