#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "FolderContents.h"
#include "TestSupport.h"

namespace
{
std::vector<std::string> namesOf(const FolderContents &contents)
{
    std::vector<std::string> names;
    for (const WalkEntry &entry : contents)
        names.emplace_back(entry.name());
    return names;
}
}

TEST(FolderContentsTest, EntriesComeBackInOrderWithTheirKindsAcrossGrowingBlocks)
{
    FolderContents contents;
    std::vector<std::string> added;
    // Enough entries for many blocks, and names of every length a file system gives.
    for (int index = 0; index < 50000; ++index) {
        std::string name = "entry" + std::to_string(index);
        if (index % 997 == 0)
            name = std::string(255, char('a' + index % 26));
        contents.add(name, index % 3 == 0, index % 3 == 1);
        added.push_back(name);
    }
    ASSERT_EQ(contents.size(), added.size());
    std::size_t index = 0;
    FolderPosition cursor;
    while (const std::optional<WalkEntry> entry = contents.next(cursor)) {
        ASSERT_LT(index, added.size());
        EXPECT_EQ(entry->name(), added[index]);
        EXPECT_EQ(entry->nameBytes[entry->nameLength], '\0');
        EXPECT_EQ(entry->isDirectory, index % 3 == 0);
        EXPECT_EQ(entry->isRegularFile, index % 3 == 1);
        EXPECT_FALSE(entry->mayBeRemoved);
        ++index;
    }
    EXPECT_EQ(index, added.size());
    EXPECT_FALSE(contents.next(cursor)) << "the end stays the end";
    EXPECT_EQ(namesOf(FolderContents()), std::vector<std::string>());
}

TEST(FolderContentsTest, TheCleanLeavesWhatItDidNotRemove)
{
    TemporaryDirectory folder;
    FolderContents contents;
    for (const char *name : {".DS_Store", ".ds_store", "._a", "._b", "a", "b", "keep.tmp", "Thumbs.db", "THUMBS.DB"})
        contents.add(name, false, true);
    contents.add("sub", true, false);
    EXPECT_TRUE(contents.mark(".DS_Store"));
    EXPECT_TRUE(contents.mark("Thumbs.db"));
    EXPECT_FALSE(contents.mark("desktop.ini"));
    EXPECT_TRUE(contents.mark("x/y")) << "a name below the folder may be anywhere";
    EXPECT_TRUE(contents.markAppleDoubleFiles());
    EXPECT_TRUE(contents.markMatching({"*.tmp"}));
    EXPECT_FALSE(contents.markMatching({}));
    EXPECT_FALSE(contents.markOwnTemporaryFiles());

    // Removed: ".DS_Store" by name (".ds_store", which differs in letter case alone, is not in
    // the folder: it went with it), "._a" where it was listed, "Thumbs.db" by its name while
    // the file system kept "THUMBS.DB", which is there still (as "._b" and "keep.tmp" are).
    writeFile(folder.file("THUMBS.DB"), "");
    const FileDescriptor fd(open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const WalkEntry &entry : contents) {
        if (entry.name() == "._a")
            contents.setRemoved(entry.position);
    }
    contents.dropRemoved(fd.get(), {".DS_Store", "Thumbs.db"});
    EXPECT_EQ(namesOf(contents), (std::vector<std::string>{"._b", "a", "b", "keep.tmp", "THUMBS.DB", "sub"}));
    EXPECT_EQ(contents.size(), 6u);
    FolderPosition cursor;
    std::vector<std::string> walked;
    while (const std::optional<WalkEntry> entry = contents.next(cursor))
        walked.emplace_back(entry->name());
    EXPECT_EQ(walked, namesOf(contents));
}

TEST(FolderContentsTest, ChosenEntriesAreToldApartUntilLetGo)
{
    FolderContents contents;
    for (const char *name : {"a", "b", "c"})
        contents.add(name, false, true);
    std::vector<FolderPosition> positions;
    for (const WalkEntry &entry : contents)
        positions.push_back(entry.position);
    contents.setChosen(positions[1], true);
    EXPECT_FALSE(contents.isChosen(positions[0]));
    EXPECT_TRUE(contents.isChosen(positions[1]));
    contents.setChosen(positions[1], false);
    EXPECT_FALSE(contents.isChosen(positions[1]));
    EXPECT_EQ(namesOf(contents), (std::vector<std::string>{"a", "b", "c"})) << "choosing removes nothing";
}
