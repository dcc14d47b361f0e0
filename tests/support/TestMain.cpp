#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <gtest/gtest.h>

// Every test program runs with a real Qt application on the offscreen platform,
// so queued calls, timers and widgets behave as they do in the application.
// The user's own preferences and caches are never touched: the XDG folders
// point into a fresh temporary folder for the whole run. With TARNWICK_TEST_WITHOUT_WIDGETS
// set, the program runs with a core application only, as a tool or the command-line hand-over
// does; tests start themselves that way to show that the core needs no widgets.
int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string home = (std::filesystem::temp_directory_path() / "tarnwick-test-home-XXXXXX").string();
    if (!mkdtemp(home.data()))
        return 2;
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);

    std::unique_ptr<QCoreApplication> app;
    if (std::getenv("TARNWICK_TEST_WITHOUT_WIDGETS"))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();

    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
