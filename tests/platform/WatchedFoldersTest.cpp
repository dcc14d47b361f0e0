#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "WatchedFolders.h"

namespace
{
constexpr int none = WatchedFolders::none;

std::vector<std::pair<std::size_t, std::string>> visited(const WatchedFolders &folders, int top)
{
    std::vector<std::pair<std::size_t, std::string>> seen;
    folders.visit(top, [&seen](int, std::size_t depth, const std::string &path) { seen.emplace_back(depth, path); });
    return seen;
}
}

TEST(WatchedFoldersTest, PathsAreMadeFromTheHoldersAndTheNames)
{
    WatchedFolders folders;
    folders.add(1, none, "/", 10);
    folders.add(2, 1, "home", 10);
    folders.add(3, 2, "user", 11);
    folders.add(4, none, "/mnt/stick", 12);
    folders.add(5, 4, "Photos 2024", 12);
    EXPECT_EQ(folders.path(1), "/");
    EXPECT_EQ(folders.path(3), "/home/user");
    EXPECT_EQ(folders.path(5), "/mnt/stick/Photos 2024");
    EXPECT_EQ(folders.path(2), "/home") << "a path asked for again after another";
    EXPECT_EQ(folders.parent(3), 2);
    EXPECT_EQ(folders.device(3), dev_t(11));
    EXPECT_EQ(folders.device(5), dev_t(12));
    EXPECT_EQ(folders.childNamed(2, "user"), 3);
    EXPECT_EQ(folders.childNamed(2, "use"), none);
    EXPECT_EQ(folders.topAt("/mnt/stick"), 4);
    EXPECT_EQ(folders.topAt("/home"), none) << "held folders are no tops";
    EXPECT_EQ(folders.size(), 5u);
}

TEST(WatchedFoldersTest, RemovingAHolderKeepsWhatItHeldAtTheTopUnderTheFullPath)
{
    WatchedFolders folders;
    folders.add(1, none, "/data", 1);
    folders.add(2, 1, "a", 1);
    folders.add(3, 1, "b", 1);
    folders.add(4, 1, "c", 1);
    folders.add(5, 3, "inner", 1);
    folders.add(6, 5, "deepest", 1);

    // The middle, the last and the first of the held folders go in turn: the others stay reachable.
    folders.remove(3);
    EXPECT_FALSE(folders.contains(3));
    EXPECT_EQ(folders.childNamed(1, "b"), none);
    EXPECT_EQ(folders.childNamed(1, "a"), 2);
    EXPECT_EQ(folders.childNamed(1, "c"), 4);
    EXPECT_EQ(folders.parent(5), none);
    EXPECT_EQ(folders.topAt("/data/b/inner"), 5);
    EXPECT_EQ(folders.path(6), "/data/b/inner/deepest");
    folders.remove(2);
    folders.add(7, 1, "d", 1);
    EXPECT_EQ(folders.childNamed(1, "c"), 4);
    folders.remove(4);
    EXPECT_EQ(folders.childNamed(1, "d"), 7);

    EXPECT_EQ(visited(folders, 1), (std::vector<std::pair<std::size_t, std::string>>{{0, "/data"}, {1, "/data/d"}}));
    EXPECT_EQ(folders.topsBelow("/data"), std::vector<int>{5});
    folders.remove(5);
    EXPECT_EQ(folders.topAt("/data/b/inner"), none);
    EXPECT_EQ(folders.topAt("/data/b/inner/deepest"), 6);
    EXPECT_EQ(folders.path(6), "/data/b/inner/deepest");
}

TEST(WatchedFoldersTest, AVisitGoesDownFromEachFolderBeforeTheNextWithTheRightPaths)
{
    WatchedFolders folders;
    folders.add(1, none, "/r", 1);
    folders.add(2, 1, "x", 1);
    folders.add(3, 2, "y", 1);
    folders.add(4, 1, "z", 1);
    folders.add(5, 3, "w", 1);
    const auto seen = visited(folders, 1);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], std::make_pair(std::size_t(0), std::string("/r")));
    for (std::size_t index = 1; index < seen.size(); ++index) {
        const auto &[depth, path] = seen[index];
        // The folder just before is its holder or lies beside something on the way up.
        EXPECT_LE(depth, seen[index - 1].first + 1) << path;
        EXPECT_EQ(std::count(path.begin(), path.end(), '/'), long(depth) + 1) << path;
    }
    std::vector<std::string> paths;
    for (const auto &[depth, path] : seen)
        paths.push_back(path);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"/r", "/r/x", "/r/x/y", "/r/x/y/w", "/r/z"}));
}

TEST(WatchedFoldersTest, TopsBelowAPathAreFoundWithoutTheirLookAlikes)
{
    WatchedFolders folders;
    folders.add(1, none, "/a/b", 1);
    folders.add(2, none, "/a/b c", 1);
    folders.add(3, none, "/a/b-c/d", 1);
    folders.add(4, none, "/a/b/x", 1);
    folders.add(5, none, "/a/bx/y", 1);
    folders.add(6, none, "/a/b/x/y", 1);
    folders.add(7, none, "/", 1);
    EXPECT_EQ(folders.topsBelow("/a/b"), (std::vector<int>{4, 6}));
    EXPECT_EQ(folders.topsBelow("/").size(), 6u) << "everything but the root itself";
}

TEST(WatchedFoldersTest, NamesOfRemovedFoldersDoNotPileUp)
{
    WatchedFolders folders;
    folders.add(1, none, "/tree", 1);
    const std::string longName(200, 'n');
    int wd = 2;
    for (int round = 0; round < 50; ++round) {
        const int first = wd;
        for (int index = 0; index < 100; ++index, ++wd)
            folders.add(wd, 1, longName + std::to_string(wd), 1);
        for (int index = first; index < wd - 1; ++index)
            folders.remove(index);
    }
    // 5,000 names of over 200 bytes were made; 50 are kept.
    EXPECT_EQ(folders.size(), 51u);
    EXPECT_LT(folders.nameBytes(), 200u * 1024) << "dead names are dropped from the block";
    EXPECT_EQ(folders.path(wd - 1), "/tree/" + longName + std::to_string(wd - 1));
    EXPECT_EQ(folders.childNamed(1, longName + "101"), 101);
}
