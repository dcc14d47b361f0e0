#include <gtest/gtest.h>

#include <random>

#include "../store/LogCapture.h"
#include "../store/StoreTestEnvironment.h"
#include "PathLists.h"
#include "UserDefaults.h"

namespace
{
class PathListsTest : public testing::Test
{
protected:
    // Walks down the path one component at a time, as a walk does from its root, and checks at
    // every folder that the answers carried down are those of matching its whole path.
    void expectSameAnswersAllTheWayDown(const PathLists &lists, const std::vector<std::string> &whiteList,
                                        const std::string &root, const std::vector<std::string> &components,
                                        const VolumeLocation &location)
    {
        std::string path = root;
        PathLists::Progress progress = lists.progressOf(path, location);
        for (std::size_t depth = 0;; ++depth) {
            SCOPED_TRACE(path);
            ASSERT_EQ(lists.isInIgnoreList(path, progress, location),
                      PathLists::isInIgnoreList(path, true, location, whiteList));
            ASSERT_EQ(lists.isInWhiteList(path, progress), PathLists::matchesWhiteList(path, whiteList));
            if (depth == components.size())
                break;
            const std::string child = (path.ends_with('/') ? path : path + "/") + components[depth];
            progress = lists.descend(path, progress, child, location);
            path = child;
        }
    }

    StoreTestEnvironment m_environment;
};

const std::vector<std::string> names{"Library", "Caches",  "System",     "x.app", ".Trashes", "Network",
                                     "keep1",   "keep",    "a",          "b",     "ab",       "Backup",
                                     "dev",     "private", "Containers", "Application Support"};
// Pieces of white-list patterns: literal names, wildcards, a bracket expression now and then.
const std::vector<std::string> patternPieces{"Library", "keep*", "*",  "?",   "a*b", "[ab]", "Caches",
                                             "Backup",  "*.app", "ab", "x?y", "",    "k[e]ep1"};

std::string randomPattern(std::mt19937 &random)
{
    std::string pattern = random() % 4 == 0 ? "" : "/";
    const int pieces = 1 + int(random() % 5);
    for (int piece = 0; piece < pieces; ++piece) {
        if (piece > 0)
            pattern += "/";
        pattern += patternPieces[random() % patternPieces.size()];
    }
    if (random() % 3 == 0)
        pattern += "/";
    return pattern;
}
}

TEST_F(PathListsTest, AnswersCarriedDownAFolderAtATimeAreThoseOfTheWholePath)
{
    std::mt19937 random(20261209);
    const std::vector<VolumeLocation> locations{
        VolumeLocation{"", "/", "/", true},
        VolumeLocation{"/Volumes/", "Backup", "/Volumes/Backup", false},
    };
    const std::vector<std::string> roots{"/", "/Volumes", "/Volumes/Backup", "/Volumes/Backup2", "/Volumes/EFI",
                                         "/data/keep1", "/Volumes/Backup/Users"};
    for (int round = 0; round < 400; ++round) {
        std::vector<std::string> whiteList;
        for (int count = int(random() % 4); count > 0; --count)
            whiteList.push_back(randomPattern(random));
        const PathLists lists(whiteList);
        std::vector<std::string> components;
        for (int depth = int(random() % 12); depth > 0; --depth)
            components.push_back(names[random() % names.size()]);
        const VolumeLocation &location = locations[random() % locations.size()];
        const std::string &root = roots[random() % roots.size()];
        SCOPED_TRACE(testing::PrintToString(whiteList));
        expectSameAnswersAllTheWayDown(lists, whiteList, root, components, location);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(PathListsTest, ADeepFolderIsAnsweredFromWhatItsFoldersFound)
{
    const std::vector<std::string> whiteList{"/deep/d/d/keep*", "/deep/*/x"};
    const PathLists lists(whiteList);
    const VolumeLocation startupDisk{"", "/", "/", true};
    std::vector<std::string> chain(300, "d");
    chain[150] = "Library";
    chain[151] = "Caches";
    expectSameAnswersAllTheWayDown(lists, whiteList, "/deep", chain, startupDisk);
    std::vector<std::string> kept{"d", "d", "keepsake"};
    kept.resize(200, "d");
    expectSameAnswersAllTheWayDown(lists, whiteList, "/deep", kept, startupDisk);
}

TEST_F(PathListsTest, AFolderMatchedOnTheWayDownIsLoggedAsTheWholePathIs)
{
    UserDefaults::standardUserDefaults().setObject(Value(true), "detailedLogging");
    const std::vector<std::string> whiteList{"/Volumes/Backup/Kept"};
    const PathLists lists(whiteList);
    const VolumeLocation backup{"/Volumes/", "Backup", "/Volumes/Backup", false};
    LogCapture log;
    PathLists::Progress progress = lists.progressOf("/Volumes/Backup", backup);
    progress = lists.descend("/Volumes/Backup", progress, "/Volumes/Backup/Users", backup);
    const PathLists::Progress trash =
        lists.descend("/Volumes/Backup/Users", progress, "/Volumes/Backup/Users/.Trashes", backup);
    EXPECT_TRUE(lists.isInIgnoreList("/Volumes/Backup/Users/.Trashes", trash, backup));
    const PathLists::Progress kept = lists.descend("/Volumes/Backup", lists.progressOf("/Volumes/Backup", backup),
                                                   "/Volumes/Backup/Kept", backup);
    EXPECT_TRUE(lists.isInIgnoreList("/Volumes/Backup/Kept", kept, backup));
    EXPECT_TRUE(lists.isInWhiteList("/Volumes/Backup/Kept", kept));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Path is in ignorelist:/Users/.Trashes/",
                                                     "Path is in whitelist:/Volumes/Backup/Kept/",
                                                     "Path is in whitelist:/Volumes/Backup/Kept"}));
}
