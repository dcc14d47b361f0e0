#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

#include "TarnwickProcess.h"
#include "TestSupport.h"

using namespace std::chrono_literals;

// The real executable on the offscreen platform: start-up, re-open and the quit paths.
class ApplicationLaunchTest : public testing::Test
{
protected:
    TarnwickHome m_home;
};

TEST_F(ApplicationLaunchTest, AFirstLaunchIsANewInstallAndTheSameBuildAgainIsNot)
{
    {
        TarnwickProcess first(m_home);
        ASSERT_TRUE(first.start());
        EXPECT_TRUE(first.logged("New version installed!"));
        EXPECT_NE(readFile(m_home.preferencesFile()).find("<key>build</key>\n\t<integer>100</integer>"),
                  std::string::npos)
            << readFile(m_home.preferencesFile());
        EXPECT_EQ(first.endWith(SIGINT), 0);
        EXPECT_TRUE(first.logged("Tarnwick has quit."));
    }
    TarnwickProcess again(m_home);
    ASSERT_TRUE(again.start());
    EXPECT_FALSE(again.logged("New version installed!")) << again.errors();
    EXPECT_EQ(again.endWith(SIGTERM), 0);
}

TEST_F(ApplicationLaunchTest, AStartWithoutPathsIsAReopenAndTheLaunchersQuitEndsTheInstance)
{
    TarnwickProcess instance(m_home);
    ASSERT_TRUE(instance.start());

    const TarnwickHome::Finished reopen = m_home.run({});
    EXPECT_EQ(reopen.status, 0);
    EXPECT_EQ(reopen.errors, "");
    EXPECT_TRUE(runEventLoopUntil([&] { return instance.logged("Asked to show the main window."); }));
    EXPECT_FALSE(instance.hasEnded());

    const TarnwickHome::Finished quit = m_home.run({"--quit"});
    EXPECT_EQ(quit.status, 0);
    EXPECT_EQ(instance.waitForEnd(), 0);
    EXPECT_TRUE(instance.logged("Tarnwick has quit.")) << instance.errors();
    EXPECT_FALSE(std::filesystem::exists(m_home.socketPath()));
}

TEST_F(ApplicationLaunchTest, PathsOnTheCommandLineAreCleanedAsOneRequestInTheirOrder)
{
    std::vector<std::string> folders;
    QStringList arguments;
    for (const char *name : {"Zebra", "Apple", "Mango"}) {
        folders.push_back(m_home.file(name));
        std::filesystem::create_directories(folders.back());
        writeFile(folders.back() + "/.DS_Store", "Bud1");
        arguments << QString::fromStdString(folders.back());
    }
    TarnwickProcess instance(m_home);
    ASSERT_TRUE(instance.start(arguments));
    for (const std::string &folder : folders)
        EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(folder + "/.DS_Store"); }, 60s)) << folder;

    const std::string errors = instance.errors();
    std::size_t previous = 0;
    for (const std::string &folder : folders) {
        const std::size_t asked = errors.find("Asked to clean " + folder);
        ASSERT_NE(asked, std::string::npos) << folder;
        EXPECT_GT(asked, previous) << folder << " out of order";
        previous = asked;
    }
    const std::string log = m_home.todaysLog();
    EXPECT_LT(log.find("Cleaning Zebra"), log.find("Cleaning Apple"));
    EXPECT_LT(log.find("Cleaning Apple"), log.find("Cleaning Mango"));
    EXPECT_EQ(instance.endWith(SIGTERM), 0);
}
