#include "EnvironmentOverride.h"
#include "InstanceChannel.h"
#include "TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <plist/plist.h>

using namespace std::chrono_literals;

namespace
{
// A binary preferences file whose UTF-16 key "éX" has its "X" turned into U+0000.
std::string binaryWithNULInAKey()
{
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "logDeletions", plist_new_bool(1));
    plist_dict_set_item(root, "\xC3\xA9X", plist_new_bool(1));
    char *bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    std::string binary(bytes, length);
    std::free(bytes);
    plist_free(root);
    binary[binary.find(std::string("\x00X", 2)) + 1] = '\0';
    return binary;
}

// A preferences file that loads but held values the writer cannot write: a date in 2100.
std::string xmlWithAFarDate()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>detailedLoggingFirstFired</key><date>2100-01-01T00:00:00Z</date>"
           "<key>logDeletions</key><false/></dict></plist>";
}
}

// The real application starts on each file, keeps running, and sets the file aside.
TEST(DamagedPreferencesStart, TheApplicationStartsAndSetsTheFileAside)
{
    for (const std::string &contents : {binaryWithNULInAKey(), xmlWithAFarDate()}) {
        TemporaryDirectory home;
        const std::string folder = home.file("config/tarnwick");
        std::filesystem::create_directories(folder);
        std::filesystem::create_directories(home.file("runtime"));
        std::filesystem::permissions(home.file("runtime"), std::filesystem::perms::owner_all);
        const std::string preferences = folder + "/org.tarnwick.Tarnwick.plist";
        writeFile(preferences, contents);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(home.file("config")));
        environment.insert("XDG_CACHE_HOME", QString::fromStdString(home.file("cache")));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(home.file("runtime")));
        QProcess application;
        application.setProcessEnvironment(environment);
        std::string errors;
        QObject::connect(&application, &QProcess::readyReadStandardError,
                         [&] { errors += application.readAllStandardError().toStdString(); });
        application.start(TARNWICK_EXECUTABLE, {});
        ASSERT_TRUE(application.waitForStarted(30000));

        // Once it listens and answers another start, its start-up is done.
        EnvironmentOverride runtime("XDG_RUNTIME_DIR", home.file("runtime"));
        ASSERT_TRUE(runEventLoopUntil([] { return fileExists(InstanceChannel::defaultSocketPath()); }, 30s)) << errors;
        std::future<InstanceChannel::Outcome> outcome = std::async(std::launch::async, [] {
            InstanceChannel other;
            std::string error;
            return other.handOverOrBecomeInstance({}, 20s, error);
        });
        EXPECT_TRUE(runEventLoopUntil([&] { return outcome.wait_for(0s) == std::future_status::ready; }, 30s));
        EXPECT_EQ(outcome.get(), InstanceChannel::Outcome::handedOver) << errors;
        EXPECT_TRUE(runEventLoopUntil([&] { return errors.find("Asked to show the main window.") != std::string::npos; }, 30s))
            << errors;
        // The preferences are read once something asks for them, which may come after that.
        const auto keptAside = [&folder] {
            std::size_t count = 0;
            for (const auto &entry : std::filesystem::directory_iterator(folder))
                count += entry.path().filename().string().starts_with("org.tarnwick.Tarnwick.plist.corrupt-");
            return count;
        };
        EXPECT_TRUE(runEventLoopUntil([&] { return keptAside() == 1; }, 30s)) << errors;
        runEventLoopFor(500ms);
        EXPECT_EQ(application.state(), QProcess::Running) << errors;
        EXPECT_EQ(keptAside(), 1u) << errors;
        application.kill();
        application.waitForFinished(30000);
    }
}
