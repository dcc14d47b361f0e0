#include "Error.h"
#include "SecurityScopedBookmark.h"
#include "TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{
Data bookmarkOf(const std::string &path)
{
    return SecurityScopedBookmark::bookmarkData(path, SecurityScopedBookmark::creationWithSecurityScope);
}

std::string resolved(const Data &bookmark)
{
    return SecurityScopedBookmark::resolve(bookmark, SecurityScopedBookmark::scopedResolutionOptions);
}
}

TEST(SecurityScopedBookmarkTest, ResolvesToTheItemItWasMadeFor)
{
    TemporaryDirectory folder;
    const std::string name = folder.file("Fotos à l'été");
    std::filesystem::create_directory(name);
    writeFile(folder.file("file"), "x");

    EXPECT_EQ(resolved(bookmarkOf(name)), name);
    EXPECT_EQ(resolved(bookmarkOf(folder.file("file"))), folder.file("file"));
    EXPECT_EQ(resolved(bookmarkOf("/")), "/");
}

TEST(SecurityScopedBookmarkTest, CreationNeedsAnAbsolutePathToAnExistingItem)
{
    TemporaryDirectory folder;
    EXPECT_THROW(bookmarkOf("relative/path"), Error);
    EXPECT_THROW(bookmarkOf(""), Error);
    EXPECT_THROW(bookmarkOf(folder.file("missing")), Error);
}

TEST(SecurityScopedBookmarkTest, DamagedDataOrAnotherVersionIsAnError)
{
    TemporaryDirectory folder;
    const Data good = bookmarkOf(folder.path());

    std::vector<Data> damaged;
    damaged.push_back({});
    damaged.push_back(Data(good.begin(), good.begin() + 6)); // cut inside the header
    damaged.push_back(Data(good.begin(), good.end() - 1)); // path cut short
    Data longer = good;
    longer.push_back('x');
    damaged.push_back(longer); // the path continues past its length
    Data otherMagic = good;
    otherMagic.at(0) = 'X';
    damaged.push_back(otherMagic);
    Data otherVersion = good;
    otherVersion.at(4) = SecurityScopedBookmark::currentVersion + 1;
    damaged.push_back(otherVersion);
    Data hugeLength = good;
    hugeLength.at(5) = 0xFF;
    damaged.push_back(hugeLength);
    Data relative = good;
    relative.at(9) = 'x'; // the path's leading "/"
    damaged.push_back(relative);
    Data withNul = good;
    withNul.at(withNul.size() - 1) = 0;
    damaged.push_back(withNul);

    for (std::size_t i = 0; i < damaged.size(); ++i)
        EXPECT_THROW(resolved(damaged[i]), Error) << "damaged bookmark " << i;
}

TEST(SecurityScopedBookmarkTest, AnItemThatIsGoneDoesNotResolve)
{
    TemporaryDirectory folder;
    const std::string disk = folder.file("Disk");
    std::filesystem::create_directory(disk);
    const Data bookmark = bookmarkOf(disk);
    std::filesystem::remove(disk);

    try {
        resolved(bookmark);
        ADD_FAILURE() << "a bookmark of a removed folder resolved";
    } catch (const Error &error) {
        EXPECT_EQ(error.domain(), Error::POSIXDomain);
        EXPECT_EQ(error.code(), ENOENT);
    }
}

TEST(SecurityScopedBookmarkTest, AccessIsCountedUntilEachStartIsStopped)
{
    TemporaryDirectory folder;
    const std::string path = folder.path();
    ASSERT_EQ(SecurityScopedBookmark::openAccessCount(path), 0);

    EXPECT_TRUE(SecurityScopedBookmark::startAccessing(path));
    EXPECT_TRUE(SecurityScopedBookmark::startAccessing(path));
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount(path), 2);
    SecurityScopedBookmark::stopAccessing(path);
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount(path), 1);
    SecurityScopedBookmark::stopAccessing(path);
    SecurityScopedBookmark::stopAccessing(path); // one stop too many changes nothing
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount(path), 0);
    EXPECT_TRUE(SecurityScopedBookmark::startAccessing(path));
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount(path), 1);
    SecurityScopedBookmark::stopAccessing(path);

    EXPECT_FALSE(SecurityScopedBookmark::startAccessing(folder.file("missing")));
    EXPECT_EQ(SecurityScopedBookmark::openAccessCount(folder.file("missing")), 0);
}

TEST(SecurityScopedBookmarkTest, AFolderThatCannotBeListedIsNotOpened)
{
    if (isRoot())
        GTEST_SKIP() << "root can list any folder";
    TemporaryDirectory folder;
    const std::string locked = folder.file("locked");
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read);
    EXPECT_FALSE(SecurityScopedBookmark::startAccessing(locked));
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}
