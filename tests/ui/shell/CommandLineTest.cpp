#include "CommandLine.h"

#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

#include "LauncherCommands.h"
#include "TarnwickProcess.h"
#include "TestSupport.h"

using namespace std::chrono_literals;

namespace
{
CommandLine parse(std::vector<std::string> arguments)
{
    std::string program = "tarnwick";
    std::vector<char *> argv{program.data()};
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    return CommandLine::parse(static_cast<int>(argv.size()), argv.data());
}

class CommandLineTest : public testing::Test
{
protected:
    CommandLineTest()
    {
        m_previousFolder = std::filesystem::current_path();
        std::filesystem::current_path(m_folder.path());
    }
    ~CommandLineTest() override { std::filesystem::current_path(m_previousFolder); }

    bool instanceStarted() const { return std::filesystem::exists(m_home.socketPath() + ".lock"); }

    // In the folder: W/y\xff (a name that is not UTF-8) beside W/y\xef\xbf\xbd (the same name as
    // text shows it), W/victim beside T/victim, and W/link leading to T/sub; each holding Mac
    // metadata. A textual fold of "W/link/../victim" gives W/victim, the kernel gives T/victim.
    static void makeLookAlikes(const std::string &folder)
    {
        for (const char *name : {"W/y\xff", "W/y\xef\xbf\xbd", "W/victim", "T/victim", "T/sub"}) {
            std::filesystem::create_directories(folder + "/" + name);
            writeFile(folder + "/" + name + "/.DS_Store", "Bud1");
        }
        std::filesystem::create_directory_symlink("../T/sub", folder + "/W/link");
    }

    // After a clean asked for W/y\xff and W/link/../victim: those two folders are clean, and
    // nothing else is.
    void expectOnlyTheNamedFoldersCleaned(const TarnwickProcess &instance) const
    {
        const std::string home = std::filesystem::canonical(m_home.path());
        EXPECT_TRUE(runEventLoopUntil([&] { return instance.logged("Completed cleaning victim."); }, 60s))
            << instance.errors();
        EXPECT_TRUE(instance.logged("Asked to clean " + home + "/W/y\xff\n")) << instance.errors();
        EXPECT_TRUE(instance.logged("Asked to clean " + home + "/T/victim\n")) << instance.errors();
        EXPECT_FALSE(fileExists(m_home.file("W/y\xff/.DS_Store")));
        EXPECT_FALSE(fileExists(m_home.file("T/victim/.DS_Store")));
        for (const char *untouched : {"W/y\xef\xbf\xbd", "W/victim", "T/sub"})
            EXPECT_TRUE(fileExists(m_home.file(untouched) + "/.DS_Store")) << untouched;
    }

    TemporaryDirectory m_folder;
    std::filesystem::path m_previousFolder;
    TarnwickHome m_home;
};
}

TEST_F(CommandLineTest, PathsBecomeAbsoluteAndEveryArgumentAfterTheEndOfOptionsIsAPath)
{
    std::filesystem::create_directories(m_folder.file("Photos/2024"));
    std::filesystem::create_directories(m_folder.file("--help"));
    writeFile(m_folder.file("-odd"), "");
    const CommandLine commandLine = parse({"Photos/2024", m_folder.path(), "--", "-odd", "--help"});
    ASSERT_EQ(commandLine.action, CommandLine::Action::run) << commandLine.problem;
    EXPECT_EQ(commandLine.paths, (std::vector<std::string>{m_folder.file("Photos/2024"), m_folder.path(),
                                                           m_folder.file("-odd"), m_folder.file("--help")}));
    EXPECT_TRUE(commandLine.command.empty());
}

TEST_F(CommandLineTest, APathKeepsItsBytesAndNamesWhatTheKernelFindsThere)
{
    makeLookAlikes(m_folder.path());
    const std::string folder = std::filesystem::canonical(m_folder.path());
    const CommandLine commandLine = parse({"W/y\xff", "W/link/../victim", "W/link", "W/./y\xef\xbf\xbd/"});
    ASSERT_EQ(commandLine.action, CommandLine::Action::run) << commandLine.problem;
    EXPECT_EQ(commandLine.paths, (std::vector<std::string>{folder + "/W/y\xff", folder + "/T/victim",
                                                           folder + "/T/sub", folder + "/W/y\xef\xbf\xbd"}));

    // Where the kernel finds nothing, a folder that a textual fold would find does not count.
    std::filesystem::create_directories(m_folder.file("W/only-here"));
    std::filesystem::create_symlink("nowhere", m_folder.file("W/dangling"));
    std::filesystem::create_symlink("loop", m_folder.file("W/loop"));
    const CommandLine refused = parse({"W/link/../only-here", "W/dangling", "W/loop", "W/y\xfe"});
    EXPECT_EQ(refused.action, CommandLine::Action::refuse);
    EXPECT_EQ(refused.status, CommandLine::missingPathStatus);
    EXPECT_EQ(refused.problem, "tarnwick: cannot clean W/link/../only-here: No such file or directory\n"
                               "tarnwick: cannot clean W/dangling: No such file or directory\n"
                               "tarnwick: cannot clean W/loop: Too many levels of symbolic links\n"
                               "tarnwick: cannot clean W/y\xfe: No such file or directory\n"
                               "Nothing was cleaned.\n");
}

TEST_F(CommandLineTest, MistakenCallsAreRefusedWithTheirReason)
{
    writeFile(m_folder.file("here"), "");
    const CommandLine missing = parse({"here", "gone", m_folder.file("also gone")});
    EXPECT_EQ(missing.action, CommandLine::Action::refuse);
    EXPECT_EQ(missing.status, CommandLine::missingPathStatus);
    EXPECT_EQ(missing.problem, "tarnwick: cannot clean gone: No such file or directory\n"
                               "tarnwick: cannot clean "
                                   + m_folder.file("also gone") + ": No such file or directory\nNothing was cleaned.\n");

    // Qt's own options are no exception; nor is a folder whose name begins with "-" before "--".
    std::filesystem::create_directories(m_folder.file("-x"));
    for (const std::vector<std::string> &arguments :
         std::vector<std::vector<std::string>>{{"--frobnicate"}, {"here", "-x"}, {"-style", "fusion"},
                                               {"-platform", "offscreen"}, {"--platform=offscreen"},
                                               {"-session", "here"}, {"-reverse"}}) {
        const CommandLine unknown = parse(arguments);
        const std::string &option = *std::find_if(arguments.begin(), arguments.end(),
                                                  [](const std::string &argument) { return argument.starts_with('-'); });
        EXPECT_EQ(unknown.action, CommandLine::Action::refuse) << option;
        EXPECT_EQ(unknown.status, CommandLine::usageStatus) << option;
        EXPECT_EQ(unknown.problem,
                  "tarnwick: unknown option " + option + "\nTry 'tarnwick --help' for more information.\n");
    }

    const CommandLine commandWithPaths = parse({"--show-window", "here"});
    EXPECT_EQ(commandWithPaths.action, CommandLine::Action::refuse);
    EXPECT_EQ(commandWithPaths.status, CommandLine::usageStatus);

    const CommandLine twoCommands = parse({"--show-window", "--quit"});
    EXPECT_EQ(twoCommands.action, CommandLine::Action::refuse);
}

TEST_F(CommandLineTest, EveryLauncherCommandIsAnOptionListedInTheHelp)
{
    const std::string help = CommandLine::helpText();
    for (const LauncherCommand &command : launcherCommands()) {
        const CommandLine commandLine = parse({"--" + command.name});
        EXPECT_EQ(commandLine.action, CommandLine::Action::run) << command.name;
        EXPECT_EQ(commandLine.command, command.name);
        EXPECT_NE(help.find("--" + command.name + " "), std::string::npos) << command.name;
    }
    EXPECT_EQ(parse({"-h"}).action, CommandLine::Action::printHelp);
    EXPECT_EQ(parse({"x", "--version"}).action, CommandLine::Action::printVersion);
}

TEST_F(CommandLineTest, HelpAndVersionPrintAndEndWithoutADisplayOrAnInstance)
{
    m_home.environment().remove("DISPLAY");
    m_home.environment().remove("WAYLAND_DISPLAY");
    m_home.environment().remove("QT_QPA_PLATFORM");
    const TarnwickHome::Finished help = m_home.run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.output.starts_with("Usage: tarnwick [PATH...]\n")) << help.output;
    EXPECT_EQ(help.errors, "");

    const TarnwickHome::Finished version = m_home.run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "Tarnwick 1.0.0 (build 100)\n");
    EXPECT_FALSE(instanceStarted());
}

TEST_F(CommandLineTest, AMissingPathIsRefusedOnStandardErrorAndNothingStarts)
{
    std::filesystem::create_directories(m_home.file("real"));
    writeFile(m_home.file("real/.DS_Store"), "Bud1");
    const TarnwickHome::Finished finished = m_home.run({"real", "typo"});
    EXPECT_EQ(finished.status, 1);
    EXPECT_EQ(finished.errors, "tarnwick: cannot clean typo: No such file or directory\nNothing was cleaned.\n");
    EXPECT_EQ(finished.output, "");
    EXPECT_FALSE(instanceStarted());
    EXPECT_TRUE(fileExists(m_home.file("real/.DS_Store")));
}

TEST_F(CommandLineTest, AnUnknownOptionIsRefusedOnStandardErrorAndNothingStarts)
{
    for (const char *folder : {"-x", "DIR"}) {
        std::filesystem::create_directories(m_home.file(folder));
        writeFile(m_home.file(folder) + "/.DS_Store", "Bud1");
    }
    for (const QStringList &arguments : std::vector<QStringList>{
             {"-x"}, {"-style", "DIR"}, {"-platform", "DIR"}, {"-session", "DIR"}, {"DIR", "-x"}}) {
        const TarnwickHome::Finished finished = m_home.run(arguments);
        const std::string option = arguments.filter(QRegularExpression("^-")).front().toStdString();
        EXPECT_EQ(finished.status, 2) << option;
        EXPECT_EQ(finished.errors,
                  "tarnwick: unknown option " + option + "\nTry 'tarnwick --help' for more information.\n");
        EXPECT_EQ(finished.output, "");
    }
    EXPECT_FALSE(instanceStarted());
    EXPECT_TRUE(fileExists(m_home.file("-x/.DS_Store")));
    EXPECT_TRUE(fileExists(m_home.file("DIR/.DS_Store")));
}

TEST_F(CommandLineTest, AFolderWhoseNameBeginsWithADashIsCleanedAfterTheEndOfOptions)
{
    std::filesystem::create_directories(m_home.file("-x"));
    writeFile(m_home.file("-x/.DS_Store"), "Bud1");
    TarnwickProcess instance(m_home);
    ASSERT_TRUE(instance.start({"--", "-x"}));
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(m_home.file("-x/.DS_Store")); }, 60s)) << instance.errors();
    const std::string home = std::filesystem::canonical(m_home.path());
    EXPECT_TRUE(instance.logged("Asked to clean " + home + "/-x\n")) << instance.errors();
    EXPECT_EQ(instance.endWith(SIGTERM), 0);
}

TEST_F(CommandLineTest, WithoutADisplayOneClearLineInsteadOfAnAbort)
{
    m_home.environment().remove("DISPLAY");
    m_home.environment().remove("WAYLAND_DISPLAY");
    m_home.environment().insert("QT_QPA_PLATFORM", "xcb");
    const TarnwickHome::Finished finished = m_home.run({});
    EXPECT_EQ(finished.status, 1);
    EXPECT_EQ(finished.errors, "tarnwick: cannot open a window: no display could be reached (DISPLAY not set, "
                               "WAYLAND_DISPLAY not set). Tarnwick needs a desktop session.\n");
}

TEST_F(CommandLineTest, QuittingATarnwickThatDoesNotRunStartsNothing)
{
    const TarnwickHome::Finished finished = m_home.run({"--quit"});
    EXPECT_EQ(finished.status, 0) << finished.errors;
    EXPECT_FALSE(std::filesystem::exists(m_home.socketPath()));
    EXPECT_FALSE(std::filesystem::exists(m_home.preferencesFile()));
}

TEST_F(CommandLineTest, AFreshStartCleansExactlyTheFoldersTheKernelNames)
{
    makeLookAlikes(m_home.path());
    TarnwickProcess instance(m_home);
    ASSERT_TRUE(instance.startWithArgumentBytes({"W/y\xff", "W/link/../victim"}));
    expectOnlyTheNamedFoldersCleaned(instance);
    EXPECT_EQ(instance.endWith(SIGTERM), 0);
}

TEST_F(CommandLineTest, AStartElsewhereHandsTheRunningTarnwickExactlyTheFoldersTheKernelNames)
{
    makeLookAlikes(m_home.path());
    TarnwickProcess instance(m_home);
    ASSERT_TRUE(instance.start());
    // Relative paths are the handing start's: it runs in W, the instance in the home.
    const TarnwickHome::Finished handOver = m_home.runWithArgumentBytes({"y\xff", "link/../victim"}, m_home.file("W"));
    EXPECT_EQ(handOver.status, 0) << handOver.errors;
    expectOnlyTheNamedFoldersCleaned(instance);
    EXPECT_EQ(instance.endWith(SIGTERM), 0);
}
