#include <gtest/gtest.h>
#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Error.h"
#include "PropertyList.h"
#include "SystemLog.h"
#include "TestSupport.h"
#include "UserDefaults.h"

namespace
{
std::vector<std::string> namesIn(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Value fileContents(const std::string &path)
{
    return PropertyList::readFile(path);
}

// Collects the system log's lines that mention a text while alive.
class LogCapture
{
public:
    explicit LogCapture(std::string text)
        : m_text(std::move(text)), m_token(SystemLog::addSink([this](const std::string &line) {
              std::lock_guard lock(m_mutex);
              if (line.find(m_text) != std::string::npos)
                  m_lines.push_back(line);
          }))
    {
    }
    ~LogCapture() { SystemLog::removeSink(m_token); }
    std::vector<std::string> lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::string m_text;
    std::vector<std::string> m_lines;
    int m_token;
};
}

TEST(UserDefaults, ValuesSurviveIntoASecondInstanceWhileRegisteredOnesAreNeverWritten)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("config/tarnwick/org.example.plist");
    const Dictionary preferences{{"sourceItems", Value(Dictionary{{"disks", Value(Dictionary{{"mode", Value(2)}})}})}};
    {
        UserDefaults defaults(path);
        defaults.registerDefaults({{"logDeletions", Value(true)}, {"limit", Value(10)}});
        defaults.setObject(Value(false), "logDeletions");
        defaults.setObject(Value(Date{1700000000}), "detailedLoggingFirstFired");
        defaults.setObject(Value(preferences), "preferences");
        defaults.setObject(Value("gone"), "removed");
        defaults.removeObjectForKey("removed");
        EXPECT_EQ(defaults.integerForKey("limit"), 10);
        EXPECT_TRUE(defaults.synchronize());
    }
    EXPECT_EQ(namesIn(folder.file("config/tarnwick")), std::vector<std::string>{"org.example.plist"}) << "no temporary files";
    EXPECT_EQ(fileContents(path), Value(Dictionary{{"logDeletions", Value(false)},
                                                  {"detailedLoggingFirstFired", Value(Date{1700000000})},
                                                  {"preferences", Value(preferences)}}));

    UserDefaults reopened(path);
    EXPECT_EQ(reopened.dictionaryForKey("preferences"), preferences);
    reopened.registerDefaults({{"logDeletions", Value(true)}});
    EXPECT_FALSE(reopened.boolForKey("logDeletions"));
    reopened.removeObjectForKey("logDeletions");
    EXPECT_TRUE(reopened.boolForKey("logDeletions")) << "the registered value shows again";
    EXPECT_EQ(reopened.dictionaryRepresentation().size(), 3u);
}

TEST(UserDefaults, DamagedFilesAreKeptAsideWithTheirBytesAndLogged)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("defaults.plist");
    const std::vector<std::string> damaged{"<?xml version=\"1.0\"?><plist><dict><key>a</key>",
                                           PropertyList::toXML(Value(Array{Value("not a dictionary")}))};
    LogCapture log(path);
    for (const std::string &contents : damaged) {
        writeFile(path, contents);
        UserDefaults defaults(path);
        EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
        defaults.setObject(Value(1), "fresh");
        EXPECT_EQ(fileContents(path), Value(Dictionary{{"fresh", Value(1)}}));
    }
    // Both are kept, also when set aside within the same second.
    std::vector<std::string> kept = namesIn(folder.path());
    ASSERT_EQ(kept.size(), 3u);
    kept.erase(kept.begin());
    for (std::size_t index = 0; index < kept.size(); ++index) {
        EXPECT_TRUE(kept[index].starts_with("defaults.plist.corrupt-20")) << kept[index];
        EXPECT_EQ(readFile(folder.file(kept[index])), damaged[index]);
        EXPECT_NE(log.lines().at(index).find(folder.file(kept[index]) + ";"), std::string::npos) << log.lines().at(index);
    }
}

TEST(UserDefaults, FileThatCannotBeReadIsNeverWrittenOver)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("defaults.plist");
    std::filesystem::create_directory(path);
    LogCapture log(path);
    UserDefaults defaults(path);
    defaults.setObject(Value(1), "key");
    EXPECT_EQ(defaults.integerForKey("key"), 1) << "the value stays in memory";
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(UserDefaults, FailedWriteIsLoggedOnceAndRetriedBySynchronize)
{
    TemporaryDirectory folder;
    writeFile(folder.file("blocker"), "a file where a folder should be");
    const std::string path = folder.file("blocker/defaults.plist");
    LogCapture log(path);
    UserDefaults defaults(path);
    defaults.setObject(Value(1), "first");
    defaults.setObject(Value(2), "second");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(log.lines().size(), 1u);

    std::filesystem::remove(folder.file("blocker"));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(path), Value(Dictionary{{"first", Value(1)}, {"second", Value(2)}}));
}

TEST(UserDefaults, ValuesWithoutAPropertyListFormAreRefusedWithoutChange)
{
    TemporaryDirectory folder;
    UserDefaults defaults(folder.file("defaults.plist"));
    defaults.setObject(Value("kept"), "key");
    EXPECT_THROW(defaults.setObject(Value(Array{Value()}), "key"), Error);
    EXPECT_EQ(defaults.stringForKey("key"), "kept");
    EXPECT_EQ(fileContents(folder.file("defaults.plist")), Value(Dictionary{{"key", Value("kept")}}));
    defaults.setObject(Value(), "key");
    EXPECT_EQ(defaults.objectForKey("key"), std::nullopt) << "a null value removes the key";
}

TEST(UserDefaults, TypedReadsConvertOnlyWhatIsClearlyMeant)
{
    TemporaryDirectory folder;
    UserDefaults defaults(folder.file("defaults.plist"));
    defaults.registerDefaults({{"two", Value(2)}, {"real", Value(-3.9)}, {"huge", Value(1e300)}, {"digits", Value("42")},
                               {"zero digits", Value("0")}, {"YES", Value("YES")}, {"mixed", Value("12abc")},
                               {"list", Value(Array{})}});
    EXPECT_TRUE(defaults.boolForKey("two"));
    EXPECT_TRUE(defaults.boolForKey("real"));
    EXPECT_TRUE(defaults.boolForKey("digits"));
    EXPECT_FALSE(defaults.boolForKey("zero digits"));
    EXPECT_FALSE(defaults.boolForKey("YES")) << "a string that is no number is never true";
    EXPECT_FALSE(defaults.boolForKey("list"));
    EXPECT_EQ(defaults.integerForKey("real"), -3);
    EXPECT_EQ(defaults.integerForKey("huge"), 0);
    EXPECT_EQ(defaults.integerForKey("digits"), 42);
    EXPECT_EQ(defaults.integerForKey("mixed"), 0);
    EXPECT_EQ(defaults.doubleForKey("two"), 2.0);
    EXPECT_EQ(defaults.stringForKey("two"), std::nullopt);
    EXPECT_EQ(defaults.dictionaryForKey("list"), std::nullopt);
}

TEST(UserDefaults, ChangesFromManyThreadsAllReachTheFile)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("defaults.plist");
    UserDefaults defaults(path);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread)
        threads.emplace_back([&defaults, thread] {
            for (int item = 0; item < 20; ++item)
                defaults.setObject(Value(item), std::to_string(thread) + "-" + std::to_string(item));
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(UserDefaults(path).dictionaryRepresentation().size(), 80u);
}

TEST(UserDefaults, StandardDefaultsCanBePointedAtATestFile)
{
    UserDefaults &standard = UserDefaults::standardUserDefaults();
    EXPECT_EQ(&standard, &UserDefaults::standardUserDefaults());
    const std::string previousPath = standard.filePath();
    TemporaryDirectory folder;
    standard.setFilePathForTesting(folder.file("standard.plist"));
    standard.setObject(Value("value"), "key");
    EXPECT_EQ(fileContents(folder.file("standard.plist")), Value(Dictionary{{"key", Value("value")}}));
    standard.setFilePathForTesting(previousPath);
}

TEST(UserDefaults, ValuesTheWriterCannotWriteAreLeftOutAtLoadOneByOne)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("defaults.plist");
    // Dates in 2100 load, but libplist cannot write them.
    const std::string original = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                 "<key>kept</key><integer>7</integer>"
                                 "<key>far</key><date>2100-01-01T00:00:00Z</date>"
                                 "<key>nested</key><dict><key>list</key><array><string>a</string>"
                                 "<date>2100-06-01T00:00:00Z</date><string>b</string></array></dict>"
                                 "</dict></plist>";
    writeFile(path, original);
    LogCapture log(path);
    UserDefaults defaults(path);
    EXPECT_EQ(defaults.integerForKey("kept"), 7);
    EXPECT_EQ(defaults.objectForKey("far"), std::nullopt);
    const Dictionary nested{{"list", Value(Array{Value("a"), Value("b")})}};
    EXPECT_EQ(defaults.dictionaryForKey("nested"), nested);
    EXPECT_NO_THROW(defaults.setObject(Value(1), "fresh"));
    EXPECT_TRUE(defaults.synchronize());

    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &line) { return line.find("left out") != std::string::npos; }),
              2);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(), [](const std::string &line) { return line.find("\"nested.list[1]\"") != std::string::npos; }),
              lines.end());
    // The file as it was is kept aside; the rest is saved in its place.
    const std::vector<std::string> names = namesIn(folder.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(names[1].starts_with("defaults.plist.corrupt-20")) << names[1];
    EXPECT_EQ(readFile(folder.file(names[1])), original);
    EXPECT_EQ(fileContents(path), Value(Dictionary{{"kept", Value(7)}, {"nested", Value(nested)}, {"fresh", Value(1)}}));
}

TEST(UserDefaults, ABinaryFileWithNULInAKeyStartsEmptyAndIsKeptAside)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("defaults.plist");
    // A binary list whose UTF-16 key "éX" has its "X" turned into U+0000.
    std::string binary = PropertyList::toXML(Value(Dictionary{{"k", Value(1)}}));
    plist_t root = nullptr;
    plist_from_xml(binary.data(), static_cast<std::uint32_t>(binary.size()), &root);
    plist_dict_set_item(root, "\xC3\xA9X", plist_new_bool(1));
    char *bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    binary.assign(bytes, length);
    std::free(bytes);
    plist_free(root);
    const std::size_t at = binary.find(std::string("\x00X", 2));
    ASSERT_NE(at, std::string::npos);
    binary[at + 1] = '\0';
    writeFile(path, binary);

    LogCapture log(path);
    UserDefaults defaults(path);
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    defaults.setObject(Value(2), "fresh");
    const std::vector<std::string> names = namesIn(folder.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(names[1].starts_with("defaults.plist.corrupt-20")) << names[1];
    EXPECT_EQ(readFile(folder.file(names[1])), binary);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(fileContents(path), Value(Dictionary{{"fresh", Value(2)}}));
}

TEST(UserDefaults, APreferencesFileThatIsASymbolicLinkIsSavedThroughTheLink)
{
    TemporaryDirectory folder;
    std::filesystem::create_directories(folder.file("dotfiles"));
    std::filesystem::create_directories(folder.file("config/tarnwick"));
    const std::string target = folder.file("dotfiles/tarnwick.plist");
    const std::string link = folder.file("config/tarnwick/defaults.plist");
    writeFile(target, PropertyList::toXML(Value(Dictionary{{"old", Value(1)}})));
    std::filesystem::create_symlink("../../dotfiles/tarnwick.plist", link);
    {
        UserDefaults defaults(link);
        EXPECT_EQ(defaults.integerForKey("old"), 1);
        defaults.setObject(Value(2), "new");
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(fileContents(target), Value(Dictionary{{"old", Value(1)}, {"new", Value(2)}}));
    EXPECT_EQ(namesIn(folder.file("dotfiles")), std::vector<std::string>{"tarnwick.plist"}) << "no temporary files";
    EXPECT_EQ(namesIn(folder.file("config/tarnwick")), std::vector<std::string>{"defaults.plist"});

    // A damaged target is kept aside where it lives; the link stays and names the fresh file.
    writeFile(target, "damaged");
    UserDefaults reopened(link);
    reopened.setObject(Value(3), "fresh");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(fileContents(link), Value(Dictionary{{"fresh", Value(3)}}));
    EXPECT_EQ(namesIn(folder.file("dotfiles")).size(), 2u);
}
