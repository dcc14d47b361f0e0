#include <gtest/gtest.h>

#include <QIcon>
#include <QPixmap>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "ScopedMount.h"
#include "Bundle.h"
#include "Error.h"
#include "FileManagerExtensions.h"
#include "FileOperations.h"
#include "FileSystemTypes.h"
#include "MountTable.h"
#include "TestSupport.h"
#include "URL.h"

namespace
{
std::string realPathOf(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : "";
}

// Sets an environment variable for one scope.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char *name, const std::string &value) : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

// A folder with a file, a folder, a package, a hidden file and links.
class URLItems : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = realPathOf(m_temporary.path());
        writeFile(m_root + "/file.txt", "x");
        writeFile(m_root + "/.hidden", "x");
        ASSERT_EQ(mkdir((m_root + "/folder").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((m_root + "/Tool.APP").c_str(), 0755), 0);
        writeFile(m_root + "/notes.app", "a file, not a package");
        ASSERT_EQ(symlink("folder", (m_root + "/folder-link").c_str()), 0);
        ASSERT_EQ(symlink("Tool.APP", (m_root + "/package-link.app").c_str()), 0);
        ASSERT_EQ(symlink("nowhere", (m_root + "/dangling").c_str()), 0);
    }

    URL item(const std::string &name) const { return URL::fileURLWithPath(m_root + "/" + name); }

    TemporaryDirectory m_temporary;
    std::string m_root;
};
}

TEST(URL, PathsAreAbsoluteAndTidy)
{
    EXPECT_EQ(URL::fileURLWithPath("/a//b/").path(), "/a/b");
    EXPECT_EQ(URL::fileURLWithPath("/").path(), "/");
    char current[PATH_MAX];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    EXPECT_EQ(URL::fileURLWithPath("x/y").path(), std::string(current) + "/x/y");

    const URL url = URL::fileURLWithPath("/Volumes/Data/Photos");
    EXPECT_EQ(url.lastPathComponent(), "Photos");
    EXPECT_EQ(url.deletingLastPathComponent().path(), "/Volumes/Data");
    EXPECT_EQ(url.appendingPathComponent("a.jpg").path(), "/Volumes/Data/Photos/a.jpg");
    EXPECT_EQ(URL::fileURLWithPath("/").appendingPathComponent("x").path(), "/x");
    EXPECT_EQ(URL::fileURLWithPath("/x").deletingLastPathComponent().path(), "/");
}

TEST(URL, RelativePathsStayRelativeWhenTheCurrentFolderIsGone)
{
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    {
        TemporaryDirectory folder;
        const std::string gone = folder.file("gone");
        ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
        ASSERT_EQ(chdir(gone.c_str()), 0);
        const int removed = rmdir(gone.c_str());
        const std::string path = URL::fileURLWithPath("etc//passwd/").path();
        const bool reachable = URL::fileURLWithPath("etc/passwd").isReachable();
        ASSERT_EQ(chdir(previous), 0);
        ASSERT_EQ(removed, 0);
        EXPECT_EQ(path, "etc/passwd") << "not rooted at /";
        EXPECT_FALSE(reachable);
    }
}

TEST(URL, RelativePathsUnderACurrentFolderLongerThanPATH_MAXStayInIt)
{
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    TemporaryDirectory folder;
    const std::string level(200, 'd');
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    int depth = 0;
    while (depth < 25 && mkdir(level.c_str(), 0700) == 0 && chdir(level.c_str()) == 0)
        ++depth;
    const std::string path = URL::fileURLWithPath("x").path();
    ASSERT_EQ(chdir(previous), 0);
    FileOperations::removeItem(folder.file(level));
    ASSERT_EQ(depth, 25);
    EXPECT_GT(path.size(), std::size_t(PATH_MAX));
    EXPECT_TRUE(path.starts_with(realPathOf(folder.path()) + "/" + level + "/")) << path.substr(0, 80);
    EXPECT_TRUE(path.ends_with("/" + level + "/x"));
}

TEST(URL, GetTakesTheNamedMemberOfFetchedValues)
{
    const URLResourceValues values{{URLValues::isHiddenKey, URLResourceValue(true)}};
    const std::optional<URLResourceValue> hidden = get(URLValues::isHiddenKey, values);
    ASSERT_TRUE(hidden);
    EXPECT_EQ(std::get<bool>(*hidden), true);
    EXPECT_FALSE(get(URLValues::isDirectoryKey, values));
}

TEST_F(URLItems, MissingItemsGiveNothing)
{
    const URL missing = item("missing");
    EXPECT_FALSE(missing.value<bool>(URLValues::isDirectoryKey));
    EXPECT_FALSE(missing.value<std::string>(URLValues::localizedNameKey));
    EXPECT_FALSE(missing.isReachable());
    EXPECT_FALSE(missing.volume());
    EXPECT_FALSE(missing.diskFormatRaw());
    EXPECT_EQ(missing.displayName(), "missing");
    EXPECT_FALSE(URL::fileURLWithPath(m_root + "/missing/deeper").isReachable());
}

TEST_F(URLItems, ValuesOfTheWrongTypeGiveNothing)
{
    EXPECT_FALSE(item("file.txt").value<bool>(URLValues::localizedNameKey));
    EXPECT_FALSE(item("file.txt").value<std::string>(URLValues::isDirectoryKey));
    EXPECT_FALSE(item("file.txt").value<int>(URLValues::isDirectoryKey));
    EXPECT_FALSE(item("file.txt").value<URL>(URLValues::isHiddenKey));
    EXPECT_EQ(item("file.txt").value<std::string>(URLValues::localizedNameKey), "file.txt");
}

TEST_F(URLItems, KindsOfItemNeverFollowLinks)
{
    EXPECT_EQ(item("folder").value<bool>(URLValues::isDirectoryKey), true);
    EXPECT_EQ(item("file.txt").value<bool>(URLValues::isDirectoryKey), false);
    EXPECT_EQ(item("folder-link").value<bool>(URLValues::isDirectoryKey), false);

    EXPECT_EQ(item("Tool.APP").value<bool>(URLValues::isPackageKey), true);
    EXPECT_EQ(item("notes.app").value<bool>(URLValues::isPackageKey), false);
    EXPECT_EQ(item("package-link.app").value<bool>(URLValues::isPackageKey), false);
    EXPECT_EQ(item("folder").value<bool>(URLValues::isPackageKey), false);

    EXPECT_EQ(item(".hidden").value<bool>(URLValues::isHiddenKey), true);
    EXPECT_EQ(item("file.txt").value<bool>(URLValues::isHiddenKey), false);

    EXPECT_TRUE(item("dangling").isReachable());
    EXPECT_EQ(item("dangling").value<bool>(URLValues::isDirectoryKey), false);
    EXPECT_EQ(item("file.txt").value<bool>(URLValues::isWritableKey), true);
}

TEST_F(URLItems, ParentsAndVolumes)
{
    EXPECT_EQ(item("file.txt").value<URL>(URLValues::parentDirectoryURLKey), URL::fileURLWithPath(m_root));
    EXPECT_FALSE(URL::fileURLWithPath("/").value<URL>(URLValues::parentDirectoryURLKey));

    const std::optional<MountEntry> mount = MountTable::current().mountForPath(m_root);
    ASSERT_TRUE(mount);
    EXPECT_EQ(item("file.txt").volume(), URL::fileURLWithPath(mount->mountPoint));
    EXPECT_EQ(item("dangling").volume(), URL::fileURLWithPath(mount->mountPoint));
    EXPECT_EQ(item("file.txt").diskFormatRaw(), FileSystemTypes::translate(*mount));
    EXPECT_EQ(item("file.txt").value<bool>(URLValues::volumeIsLocalKey), !FileSystemTypes::isNetwork(mount->fileSystemType, mount->source));
    EXPECT_TRUE(item("file.txt").value<std::string>(URLValues::volumeLocalizedFormatDescriptionKey));

    EXPECT_EQ(URL::fileURLWithPath("/").value<bool>(URLValues::isVolumeKey), true);
    EXPECT_EQ(item("folder").value<bool>(URLValues::isVolumeKey), mount->mountPoint == m_root + "/folder");
}

TEST_F(URLItems, Icons)
{
    EXPECT_FALSE(item("file.txt").value<QIcon>(URLValues::customIconKey));
    EXPECT_TRUE(item("file.txt").value<QIcon>(URLValues::effectiveIconKey));
    EXPECT_TRUE(item("folder").value<QIcon>(URLValues::effectiveIconKey));
    EXPECT_FALSE(item("missing").value<QIcon>(URLValues::effectiveIconKey));
}

TEST_F(URLItems, AnIconReadOffTheMainThreadIsLookedUpWhereItIsDrawn)
{
    std::optional<QIcon> fromWorker;
    std::thread worker([&] { fromWorker = item("folder").value<QIcon>(URLValues::effectiveIconKey); });
    worker.join();
    ASSERT_TRUE(fromWorker);
    EXPECT_FALSE(fromWorker->isNull());
    EXPECT_EQ(fromWorker->name(), QStringLiteral("folder"));
    const QIcon fromMain = *item("folder").value<QIcon>(URLValues::effectiveIconKey);
    const QPixmap drawn = fromWorker->pixmap(16);
    EXPECT_EQ(drawn.isNull(), fromMain.pixmap(16).isNull());
    EXPECT_EQ(drawn.size(), fromMain.pixmap(16).size());
}

TEST(URL, DisplayPathStripsTheVolumesFolder)
{
    EXPECT_EQ(URL::fileURLWithPath("/Volumes/Data/Photos").displayPath(), "Data/Photos");
    EXPECT_EQ(URL::fileURLWithPath("/Volumes/Data").displayPath(), "Data");
    EXPECT_EQ(URL::fileURLWithPath("/Volumes").displayPath(), "/Volumes");
    EXPECT_EQ(URL::fileURLWithPath("/Users/a/b").displayPath(), "/Users/a/b");
}

TEST(URL, DisplayNameOfTheRootAndOfFiles)
{
    EXPECT_FALSE(URL::fileURLWithPath("/").displayName().empty());
    EXPECT_EQ(URL::fileURLWithPath("/nonexistent/Report.pdf").displayName(), "Report.pdf");
}

TEST(URL, FileWhichExistsExpandsTheTilde)
{
    TemporaryDirectory home;
    const ScopedEnvironment environment("HOME", home.path());
    writeFile(home.file("present.txt"), "x");

    const std::optional<URL> found = URL::URLForFileWhichExists("~/present.txt");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path(), home.file("present.txt"));
    EXPECT_EQ(URL::URLForFileWhichExists("~")->path(), home.path());
    EXPECT_FALSE(URL::URLForFileWhichExists("~/absent.txt"));
    EXPECT_FALSE(URL::URLForFileWhichExists(home.file("absent.txt")));
}

TEST(URL, RealReadOnlyVolume)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    TemporaryDirectory temporary;
    const std::string folder = realPathOf(temporary.path()) + "/Archive";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ScopedMount mounted("tmpfs", folder, true);
    ASSERT_TRUE(mounted.isMounted()) << mounted.failure();

    const URL volume = URL::fileURLWithPath(folder);
    EXPECT_EQ(volume.value<bool>(URLValues::isVolumeKey), true);
    EXPECT_EQ(volume.value<bool>(URLValues::volumeIsReadOnlyKey), true);
    EXPECT_EQ(volume.value<bool>(URLValues::isWritableKey), false);
    EXPECT_EQ(volume.value<std::string>(URLValues::localizedNameKey), "Archive");
    EXPECT_EQ(volume.volume(), volume);
    EXPECT_EQ(volume.diskFormatRaw(), "tmpfs");
    EXPECT_EQ(URL::fileURLWithPath(temporary.path()).value<bool>(URLValues::volumeIsReadOnlyKey), false);
}

TEST(FileManagerExtensions, CachesFolderIsMadeOnceAndReused)
{
    TemporaryDirectory caches;
    const ScopedEnvironment environment("XDG_CACHE_HOME", caches.path() + "/deeper/cache");
    const std::string identifier = Bundle::main().bundleIdentifier().value_or("");
    ASSERT_FALSE(identifier.empty());

    const URL first = FileManager::appCachesDirectory();
    EXPECT_EQ(first.path(), caches.path() + "/deeper/cache/" + identifier);
    struct stat before;
    ASSERT_EQ(stat(first.path().c_str(), &before), 0);
    EXPECT_TRUE(S_ISDIR(before.st_mode));
    writeFile(first.path() + "/Today's Log.txt", "kept");

    const URL second = FileManager::appCachesDirectory();
    EXPECT_EQ(second, first);
    struct stat after;
    ASSERT_EQ(stat(second.path().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(readFile(second.path() + "/Today's Log.txt"), "kept");
}

TEST(FileManagerExtensions, FoldersNeedABundleIdentifier)
{
    TemporaryDirectory caches;
    const ScopedEnvironment environment("XDG_CACHE_HOME", caches.path());
    const Dictionary info = Bundle::main().infoDictionary();
    Dictionary withoutIdentifier = info;
    withoutIdentifier.erase("CFBundleIdentifier");
    Bundle::main().setInfoDictionaryForTesting(withoutIdentifier);
    EXPECT_THROW(FileManager::appCachesDirectory(), Error);
    EXPECT_THROW(FileManager::applicationScriptsDirectory(), Error);
    Bundle::main().setInfoDictionaryForTesting(info);
    // Nothing was made in the caches root.
    EXPECT_TRUE(std::filesystem::is_empty(caches.path()));
}

TEST(FileManagerExtensions, CreationFailuresAreThrown)
{
    TemporaryDirectory temporary;
    writeFile(temporary.file("not-a-folder"), "x");
    const ScopedEnvironment environment("XDG_CACHE_HOME", temporary.file("not-a-folder"));
    EXPECT_THROW(FileManager::appCachesDirectory(), Error);
}

TEST(FileManagerExtensions, ScriptsFolderUnderTheDataHome)
{
    TemporaryDirectory data;
    const ScopedEnvironment environment("XDG_DATA_HOME", data.path());
    const URL scripts = FileManager::applicationScriptsDirectory();
    EXPECT_EQ(scripts.path(), data.path() + "/" + Bundle::main().bundleIdentifier().value_or("") + "/Scripts");
    EXPECT_TRUE(URL::fileURLWithPath(scripts.path()).value<bool>(URLValues::isDirectoryKey).value_or(false));
}

TEST(FileManagerExtensions, RemoveItemAnswersWithABoolean)
{
    TemporaryDirectory temporary;
    writeFile(temporary.file("a"), "x");
    EXPECT_TRUE(FileManager::defaultManager().removeItem_NoThrow(URL::fileURLWithPath(temporary.file("a"))));
    EXPECT_FALSE(fileExists(temporary.file("a")));
    EXPECT_FALSE(FileManager::defaultManager().removeItem_NoThrow(URL::fileURLWithPath(temporary.file("a"))));
    // An error object made right after a failed removal carries its errno and text.
    EXPECT_EQ(unlink(temporary.file("a").c_str()), -1);
    const Error error = Error::POSIXerrno();
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_EQ(error.domain(), Error::POSIXDomain);
    EXPECT_EQ(error.localizedDescription(), std::strerror(ENOENT));
}
