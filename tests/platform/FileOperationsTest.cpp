#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Error.h"
#include "FileOperations.h"
#include "ScopedMount.h"
#include "TestSupport.h"

namespace
{
void makeFolder(const std::string &path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
}

int errorCodeOfRemoving(const std::string &path)
{
    try {
        FileOperations::removeItem(path);
    } catch (const Error &error) {
        EXPECT_EQ(error.domain(), Error::POSIXDomain);
        return static_cast<int>(error.code());
    }
    return 0;
}
}

TEST(FileOperations, RemovesATreeButNotWhatItsLinksLeadTo)
{
    TemporaryDirectory temporary;
    const std::string outside = temporary.file("outside");
    makeFolder(outside);
    writeFile(outside + "/precious.txt", "keep");
    writeFile(temporary.file("precious-file"), "keep");

    const std::string tree = temporary.file("tree");
    makeFolder(tree);
    makeFolder(tree + "/a");
    makeFolder(tree + "/a/b");
    makeFolder(tree + "/.AppleDouble");
    writeFile(tree + "/a/b/file", "x");
    writeFile(tree + "/._file", "x");
    writeFile(tree + "/.AppleDouble/entry", "x");
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/a/link-to-folder").c_str()), 0);
    ASSERT_EQ(symlink(temporary.file("precious-file").c_str(), (tree + "/link-to-file").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", (tree + "/a/b/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((tree + "/a/fifo").c_str(), 0644), 0);

    FileOperations::removeItem(tree + "/");

    EXPECT_FALSE(fileExists(tree));
    EXPECT_EQ(readFile(outside + "/precious.txt"), "keep");
    EXPECT_EQ(readFile(temporary.file("precious-file")), "keep");
}

TEST(FileOperations, ALinkToAFolderIsRemovedItself)
{
    TemporaryDirectory temporary;
    makeFolder(temporary.file("target"));
    writeFile(temporary.file("target/inside"), "keep");
    ASSERT_EQ(symlink("target", temporary.file("link").c_str()), 0);

    EXPECT_TRUE(FileOperations::removeItemNoThrow(temporary.file("link")));
    EXPECT_FALSE(fileExists(temporary.file("link")));
    EXPECT_EQ(readFile(temporary.file("target/inside")), "keep");
}

TEST(FileOperations, RemovesPlainFilesAndRelativeToAnOpenFolder)
{
    TemporaryDirectory temporary;
    writeFile(temporary.file("plain"), "x");
    FileOperations::removeItem(temporary.file("plain"));
    EXPECT_FALSE(fileExists(temporary.file("plain")));

    makeFolder(temporary.file("folder"));
    makeFolder(temporary.file("folder/.AppleDouble"));
    writeFile(temporary.file("folder/.AppleDouble/x"), "x");
    const int folder = open(temporary.file("folder").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    FileOperations::removeItemAt(folder, ".AppleDouble");
    close(folder);
    EXPECT_FALSE(fileExists(temporary.file("folder/.AppleDouble")));
    EXPECT_TRUE(fileExists(temporary.file("folder")));
}

TEST(FileOperations, FailuresAreReportedAsPosixErrors)
{
    TemporaryDirectory temporary;
    EXPECT_EQ(errorCodeOfRemoving(temporary.file("missing")), ENOENT);
    EXPECT_FALSE(FileOperations::removeItemNoThrow(temporary.file("missing")));
    EXPECT_EQ(errorCodeOfRemoving(temporary.file("missing/deeper")), ENOENT);
    EXPECT_EQ(errorCodeOfRemoving("/"), EINVAL);
    EXPECT_EQ(errorCodeOfRemoving(temporary.path() + "/."), EINVAL);
    EXPECT_EQ(errorCodeOfRemoving(temporary.path() + "/.."), EINVAL);
    EXPECT_THROW(FileOperations::removeItemAt(AT_FDCWD, "a/b"), Error);
    EXPECT_TRUE(fileExists(temporary.path()));
}

TEST(FileOperations, DeepTreeNeedsNeitherStackNorManyDescriptors)
{
    TemporaryDirectory temporary;
    makeFolder(temporary.file("deep"));
    // Deeper than PATH_MAX allows a path to name, built relative to open folders.
    constexpr int depth = 1000;
    int current = open(temporary.file("deep").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(current, 0);
    for (int level = 0; level < depth; ++level) {
        ASSERT_EQ(mkdirat(current, "level", 0755), 0);
        if (level % 100 == 0)
            close(openat(current, "file", O_CREAT | O_WRONLY, 0644));
        const int next = openat(current, "level", O_RDONLY | O_DIRECTORY);
        close(current);
        ASSERT_GE(next, 0);
        current = next;
    }
    close(current);

    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
    rlimit reduced = original;
    reduced.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &reduced), 0);
    const bool removed = FileOperations::removeItemNoThrow(temporary.file("deep"));
    setrlimit(RLIMIT_NOFILE, &original);
    EXPECT_TRUE(removed);
    EXPECT_FALSE(fileExists(temporary.file("deep")));
}

TEST(FileOperations, MountInsideTheTreeIsLeftAlone)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    TemporaryDirectory temporary;
    const std::string tree = temporary.file("tree");
    makeFolder(tree);
    makeFolder(tree + "/volume");
    writeFile(tree + "/file", "x");
    ScopedMount mounted("tmpfs", tree + "/volume");
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();
    writeFile(tree + "/volume/on-the-volume", "keep");

    EXPECT_EQ(errorCodeOfRemoving(tree), EBUSY);
    EXPECT_FALSE(fileExists(tree + "/file"));
    EXPECT_EQ(readFile(tree + "/volume/on-the-volume"), "keep");
}

TEST(FileOperations, AFolderThatIsItselfABindMountIsNeverEmptied)
{
    if (!isRoot())
        GTEST_SKIP() << "a bind mount needs root";
    TemporaryDirectory temporary;
    const std::string outside = temporary.file("outside");
    makeFolder(outside);
    writeFile(outside + "/precious.txt", "keep");
    const std::string item = temporary.file("tree");
    makeFolder(item);
    ScopedMount mounted = ScopedMount::bind(outside, item);
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();

    EXPECT_EQ(errorCodeOfRemoving(item), EBUSY);
    EXPECT_EQ(readFile(outside + "/precious.txt"), "keep");
}
