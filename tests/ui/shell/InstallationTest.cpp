#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QStandardPaths>

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

#include "LauncherCommands.h"
#include "TestSupport.h"
#include "Screenshot.h"

namespace
{
struct Output
{
    int status = -1;
    std::string output;
    std::string errors;
};

Output runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(120000)) << program.toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

// The groups of a desktop entry, each a map of its keys.
std::map<std::string, std::map<std::string, std::string>> desktopEntry(const std::string &path)
{
    std::map<std::string, std::map<std::string, std::string>> groups;
    std::istringstream lines(readFile(path));
    std::string line;
    std::string group;
    while (std::getline(lines, line)) {
        if (line.starts_with('['))
            group = line.substr(1, line.size() - 2);
        else if (const auto equals = line.find('='); equals != std::string::npos)
            groups[group][line.substr(0, equals)] = line.substr(equals + 1);
    }
    return groups;
}

// Tarnwick installed with a prefix, as the README says.
class InstallationTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_prefix = new TemporaryDirectory;
        const Output install =
            runProgram(TARNWICK_CMAKE_COMMAND, {"--install", TARNWICK_BINARY_DIR, "--prefix", QString::fromStdString(s_prefix->path())});
        ASSERT_EQ(install.status, 0) << install.output << install.errors;
    }
    static void TearDownTestSuite()
    {
        delete s_prefix;
        s_prefix = nullptr;
    }

    static std::string installed(const std::string &path) { return s_prefix->file(path); }

    static TemporaryDirectory *s_prefix;
};

TemporaryDirectory *InstallationTest::s_prefix = nullptr;
}

TEST_F(InstallationTest, EverythingLandsWhereTheDesktopFindsItAndTheProgramRunsFromThere)
{
    for (const char *path : {"bin/tarnwick", "lib/libTallow.so.1", "share/tarnwick/Defaults.plist",
                             "share/tarnwick/defaults.plist", "share/tarnwick/Progress.ui",
                             "share/tarnwick/Acknowledgments.pdf", "share/applications/tarnwick.desktop",
                             "share/kio/servicemenus/tarnwick-clean.desktop",
                             "share/icons/hicolor/scalable/apps/tarnwick.svg"})
        EXPECT_TRUE(std::filesystem::exists(installed(path))) << path;

    const Output version = runProgram(QString::fromStdString(installed("bin/tarnwick")), {"--version"});
    EXPECT_EQ(version.status, 0) << version.errors;
    EXPECT_EQ(version.output, "Tarnwick 1.0.0 (build 100)\n");
}

TEST_F(InstallationTest, TheDesktopFileIsValidNamesTheIconAndOffersTheLauncherCommands)
{
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate is missing: run scripts/install-dependencies";
    const std::string desktopFile = installed("share/applications/tarnwick.desktop");
    const Output validation = runProgram(validator, {QString::fromStdString(desktopFile)});
    EXPECT_EQ(validation.status, 0);
    EXPECT_EQ(validation.output + validation.errors, "");

    auto entry = desktopEntry(desktopFile);
    EXPECT_EQ(entry["Desktop Entry"]["Icon"], "tarnwick");
    EXPECT_EQ(entry["Desktop Entry"]["Exec"], "tarnwick %F");
    std::string actions;
    for (const LauncherCommand &command : launcherCommands()) {
        actions += command.name + ";";
        EXPECT_EQ(entry["Desktop Action " + command.name]["Exec"], "tarnwick --" + command.name);
        EXPECT_FALSE(entry["Desktop Action " + command.name]["Name"].empty()) << command.name;
    }
    EXPECT_EQ(entry["Desktop Entry"]["Actions"], actions);
    EXPECT_EQ(desktopEntry(installed("share/kio/servicemenus/tarnwick-clean.desktop"))["Desktop Action cleanWithTarnwick"]["Icon"],
              "tarnwick");
}

TEST_F(InstallationTest, TheIconDrawsAtEverySizeThePanelsAsk)
{
    const QIcon icon(QString::fromStdString(installed("share/icons/hicolor/scalable/apps/tarnwick.svg")));
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 48, 256}) {
        const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.width(), size);
        // Opaque in the middle, transparent in the corner of its rounded tile.
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
        if (size == 256) {
            QLabel shown;
            shown.setPixmap(QPixmap::fromImage(image));
            shown.resize(size, size);
            saveScreenshot(&shown, "tarnwick-icon");
        }
    }
}

TEST_F(InstallationTest, TheAcknowledgmentsNameEveryLibraryTarnwickLinksWithItsLicence)
{
    const std::string pdf = installed("share/tarnwick/Acknowledgments.pdf");
    ASSERT_EQ(readFile(pdf).substr(0, 5), "%PDF-");
    const Output text = runProgram("pdftotext", {QString::fromStdString(pdf), "-"});
    ASSERT_EQ(text.status, 0) << "pdftotext (poppler-utils) is missing or failed: " << text.errors;

    // Every library the program and its framework need, by the name the acknowledgments give it.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"libQt6", "Qt 6."}, {"libplist", "libplist"}, {"libblkid", "libblkid"}, {"libicu", "ICU"},
        {"libcrypto", "OpenSSL"}, {"libz.", "zlib"}, {"libc.", "GNU C Library"}, {"libm.", "GNU C Library"},
        {"libstdc++", "GNU C++ Library"}, {"libgcc_s", "libgcc"}, {"ld-linux", "GNU C Library"},
        {"libTallow", "Tarnwick"}};
    for (const std::string binary : {"bin/tarnwick", "lib/libTallow.so.1"}) {
        const Output needed = runProgram("readelf", {"-d", QString::fromStdString(installed(binary))});
        ASSERT_EQ(needed.status, 0) << needed.errors;
        std::istringstream lines(needed.output);
        std::string line;
        while (std::getline(lines, line)) {
            const auto open = line.find("Shared library: [");
            if (open == std::string::npos)
                continue;
            const std::string library = line.substr(open + 17, line.find(']', open) - open - 17);
            const auto known = std::find_if(names.begin(), names.end(),
                                            [&library](const auto &name) { return library.starts_with(name.first); });
            ASSERT_NE(known, names.end()) << library << " is linked but not acknowledged";
            EXPECT_NE(text.output.find(known->second), std::string::npos) << library;
        }
    }
    for (const char *licence : {"LGPL-3.0", "LGPL-2.1-or-later", "Apache-2.0", "Unicode", "Runtime Library Exception"})
        EXPECT_NE(text.output.find(licence), std::string::npos) << licence;
}
