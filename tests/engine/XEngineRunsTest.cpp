#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "Alert.h"
#include "EngineFixture.h"
#include "Logger.h"
#include "PreferencesSupport.h"
#include "TestSupport.h"
#include "UserDefaults.h"

namespace fs = std::filesystem;

namespace
{
// Answers every alert with the chosen button, ticking the suppression box when told to.
class AnsweringAlerts : public AlertPresenter
{
public:
    std::size_t present(Alert &alert) override
    {
        shown.push_back(alert.messageText());
        informative.push_back(alert.informativeText());
        buttons = alert.buttonTitles();
        style = alert.style();
        showsSuppression = alert.showsSuppressionButton();
        alert.setSuppressionButtonChecked(tickSuppression);
        return answer;
    }

    std::vector<std::string> shown;
    std::vector<std::string> informative;
    std::vector<std::string> buttons;
    Alert::Style style = Alert::Style::warning;
    bool showsSuppression = false;
    std::size_t answer = 0;
    bool tickSuppression = false;
};

std::vector<std::string> userAttributes(const std::string &path)
{
    std::string list(4096, '\0');
    const ssize_t size = llistxattr(path.c_str(), list.data(), list.size());
    std::vector<std::string> names;
    for (std::size_t at = 0; size > 0 && at < std::size_t(size); at = list.find('\0', at) + 1) {
        const std::string name = list.c_str() + at;
        if (name.starts_with("user."))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string commandOutput(const std::string &command)
{
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, count);
        pclose(pipe);
    }
    return output;
}

class XEngineRunsTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        Alert::setPresenter(m_alerts);
    }

    void TearDown() override
    {
        Alert::setPresenter(nullptr);
        EngineFixture::TearDown();
    }

    std::shared_ptr<RunProgress> lastDisplay()
    {
        std::lock_guard lock(m_windows->m_mutex);
        return m_windows->m_displays.back();
    }

    // A folder on the scripted ext4 disk, whose attributes are the file system's own.
    std::string attributeFolder()
    {
        const std::string folder = m_environment.volume("MacDisk") + "/Attrs";
        fs::create_directories(folder + "/Sub");
        for (const char *name : {"one", "two", "Sub/deeper"})
            writeFile(folder + "/" + name, "x");
        return folder;
    }

    // The archive in Docs, made by zip from the named files.
    std::string archive(const std::string &name, const std::vector<std::string> &members)
    {
        std::string command = "cd '" + m_docs + "/src' && zip -q -r '" + path(name) + "'";
        for (const std::string &member : members) {
            file("src/" + member);
            command += " '" + member + "'";
        }
        EXPECT_EQ(std::system(command.c_str()), 0);
        return path(name);
    }

    std::shared_ptr<AnsweringAlerts> m_alerts = std::make_shared<AnsweringAlerts>();
};
}

TEST_F(XEngineRunsTest, TheShiftRunStripsTheFilesDirectlyInsideAFolderEvenInASimulation)
{
    const std::string folder = attributeFolder();
    for (const char *item : {"/one", "/Sub/deeper", ""}) {
        if (lsetxattr((folder + item).c_str(), "user.com.apple.FinderInfo", "x", 1, 0) != 0)
            GTEST_SKIP() << "the temporary folder keeps no user attributes";
    }
    ASSERT_EQ(lsetxattr((folder + "/one").c_str(), "user.com.apple.quarantine", "q", 1, 0), 0);
    m_alerts->tickSuppression = true;

    makeEngine(true, true)->cleanXAttrsWithProgressUI({URL::fileURLWithPath(folder)});
    ASSERT_TRUE(waitForFinishedRuns(1));

    ASSERT_EQ(m_alerts->shown,
              std::vector<std::string>{"Attributes will be removed from an item on a APFS, HFS or Linux disk."});
    EXPECT_EQ(m_alerts->buttons, (std::vector<std::string>{"Remove Attributes", "Cancel"}));
    EXPECT_EQ(m_alerts->style, Alert::Style::critical);
    EXPECT_TRUE(m_alerts->showsSuppression);
    EXPECT_TRUE(PreferencesSupport::standardUserDefaults().boolForKey("suppressXAttrWarning"));

    EXPECT_TRUE(userAttributes(folder + "/one").empty());
    EXPECT_EQ(userAttributes(folder + "/Sub/deeper").size(), 1u) << "subfolders are not entered";
    EXPECT_EQ(userAttributes(folder).size(), 1u) << "the folder's own attributes stay";
    const auto display = lastDisplay();
    EXPECT_EQ(display->m_deleted.load(), 2);
    EXPECT_EQ(display->m_examined.load(), 1);
    const auto lines = display->lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Removed com.apple.quarantine attribute from one"), lines.end());
    EXPECT_EQ(display->feedback().back(), "Cleaning completed.");

    makeEngine()->cleanXAttrsWithProgressUI({URL::fileURLWithPath(folder + "/Sub/deeper")});
    ASSERT_TRUE(waitForFinishedRuns(2));
    EXPECT_EQ(m_alerts->shown.size(), 1u) << "suppressed";
    EXPECT_TRUE(userAttributes(folder + "/Sub/deeper").empty());
    EXPECT_EQ(lastDisplay()->m_examined.load(), 1);
}

TEST_F(XEngineRunsTest, CancellingTheAttributeWarningRunsNothing)
{
    const std::string folder = attributeFolder();
    if (lsetxattr((folder + "/one").c_str(), "user.kept", "x", 1, 0) != 0)
        GTEST_SKIP() << "the temporary folder keeps no user attributes";
    m_alerts->answer = 1;

    makeEngine()->cleanXAttrsWithProgressUI({URL::fileURLWithPath(folder)});
    runEventLoopFor(std::chrono::milliseconds(50));

    EXPECT_EQ(m_alerts->shown.size(), 1u);
    EXPECT_TRUE(m_windows->m_displays.empty());
    EXPECT_EQ(userAttributes(folder + "/one"), std::vector<std::string>{"user.kept"});
}

TEST_F(XEngineRunsTest, AnArchiveLosesItsMetadataEntriesAndADamagedOneIsReported)
{
    const std::string good = archive("good.zip", {"a.txt", "__MACOSX/._a.txt", ".DS_Store", "b/.DS_Store"});
    writeFile(path("bad.zip"), "PK not really an archive");

    makeEngine()->cleanWithProgressUI({URL::fileURLWithPath(path("bad.zip")), URL::fileURLWithPath(good)});
    ASSERT_TRUE(waitForFinishedRuns(1));

    EXPECT_EQ(commandOutput("unzip -Z1 '" + good + "'"), "a.txt\n");
    const auto display = lastDisplay();
    EXPECT_EQ(display->errors().size(), 1u);
    EXPECT_NE(Logger::shared().logContents().value_or("").find("Not cleaned: " + path("bad.zip") + ": "
                                                                + display->errors().front()),
              std::string::npos)
        << "the log says so too";
    EXPECT_EQ(display->m_deleted.load(), 3);
    const auto feedback = display->feedback();
    EXPECT_NE(std::find(feedback.begin(), feedback.end(), "Cleaning Archive good.zip..."), feedback.end());
    EXPECT_NE(std::find(feedback.begin(), feedback.end(), "Cleaned Archive good.zip."), feedback.end());
    EXPECT_EQ(std::find(feedback.begin(), feedback.end(), "Cleaned Archive bad.zip."), feedback.end())
        << "an archive that could not be cleaned is not said to be";
    EXPECT_EQ(feedback.back().rfind("Not cleaned: " + path("bad.zip") + ": ", 0), 0u) << feedback.back();
}

TEST_F(XEngineRunsTest, EachItemIsCleanedAsWhatItIsAndAnythingElseIsSaid)
{
    // A folder named like an archive, a real archive, a pipe, a plain file and a link where the
    // run was given a folder (as a record's folder replaced by a link since it was resolved).
    setDiskOptions({{"dsstore", true}, {"onlyCleanManually", false}});
    file("photos.zip/.DS_Store");
    const std::string real = archive("real.zip", {"a.txt", ".DS_Store"});
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    file("notes.txt");
    folder("target");
    file("target/.DS_Store");
    ASSERT_EQ(symlink(path("target").c_str(), path("link").c_str()), 0);

    makeEngine()->cleanWithProgressUI({URL::fileURLWithPath(path("photos.zip")), URL::fileURLWithPath(real),
                                       URL::fileURLWithPath(path("pipe")), URL::fileURLWithPath(path("notes.txt")),
                                       URL::fileURLWithPath(path("link"))});
    ASSERT_TRUE(waitForFinishedRuns(1));

    EXPECT_FALSE(fileExists(path("photos.zip/.DS_Store"))) << "a folder is walked whatever its name";
    EXPECT_EQ(commandOutput("unzip -Z1 '" + real + "'"), "a.txt\n");
    EXPECT_TRUE(fileExists(path("target/.DS_Store"))) << "no link is followed where a folder was given";
    const std::string log = Logger::shared().logContents().value_or("");
    for (const std::string &line : {"Not cleaned: " + path("pipe") + ": Not a folder or a zip archive",
                                    "Not cleaned: " + path("notes.txt") + ": Not a folder or a zip archive",
                                    "Not cleaned: " + path("link") + ": Too many levels of symbolic links"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    const auto feedback = lastDisplay()->feedback();
    EXPECT_EQ(feedback.back(), "Not cleaned: " + path("pipe") + ": Not a folder or a zip archive");
    const auto lines = lastDisplay()->lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Completed cleaning photos.zip."), lines.end());
}

TEST_F(XEngineRunsTest, ASimulationLeavesArchivesAloneWithoutAWord)
{
    const std::string good = archive("good.zip", {"a.txt", ".DS_Store"});
    const std::string before = readFile(good);

    makeEngine(true, true)->cleanWithProgressUI({URL::fileURLWithPath(good)});
    ASSERT_TRUE(waitForFinishedRuns(1));

    EXPECT_EQ(readFile(good), before);
    EXPECT_EQ(lastDisplay()->feedback(), (std::vector<std::string>{"Starting...", "Cleaning completed."}));
}

TEST_F(XEngineRunsTest, AScheduledRunClosesItsWindowOnlyWhenAskedTo)
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value(true), "scheduledCleaningAutoCloseWindow");
    m_engines.push_back(XEngine::make(false, true, false, false, true));
    m_engines.back()->cleanWithProgressUI({docsURL()});
    makeEngine()->cleanWithProgressUI({docsURL()});
    ASSERT_TRUE(waitForFinishedRuns(2));

    // The window closes just after the run says it finished.
    std::shared_ptr<RunProgress> scheduled, manual;
    {
        std::lock_guard lock(m_windows->m_mutex);
        scheduled = m_windows->m_displays[0];
        manual = m_windows->m_displays[1];
    }
    EXPECT_TRUE(runEventLoopUntil([&] { return scheduled->m_closed.load(); }));
    EXPECT_FALSE(manual->m_closed.load()) << "a user's clean never closes its window";
}

TEST_F(XEngineRunsTest, AWindowRunThatGotNoWindowLeavesTheActiveEngines)
{
    ProgressDisplayFactory::setCurrent(nullptr);
    setDiskOptions({{"dsstore", true}, {"onlyCleanManually", false}});
    file(".DS_Store");
    std::weak_ptr<XEngine> watched;
    {
        const std::shared_ptr<XEngine> engine = makeEngine();
        watched = engine;
        engine->cleanWithProgressUI({docsURL()});
    }
    m_engines.clear();
    EXPECT_TRUE(gone(watched)) << "the run ended with its silent progress, so nothing else releases it";
    EXPECT_FALSE(fileExists(path(".DS_Store")));
}
