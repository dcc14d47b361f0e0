#include "DiagnosticsReport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "MainUIController.h"
#include "TestSupport.h"
#include "VolumeFactsSource.h"

namespace
{
// Three volumes as a user's machine might show them: a FAT stick, a network share and the
// start-up disk, plus one that went away while the report was written.
class ScriptedVolumes : public VolumeFactsSource
{
public:
    ScriptedVolumes()
    {
        VolumeFacts stick;
        stick.mountPoint = "/media/me/STICK";
        stick.fileSystemType = "msdos";
        stick.kernelFileSystemType = "vfat";
        stick.source = "/dev/sdb1";
        stick.blockSize = 4096;
        stick.blockCount = 1953024;
        stick.name = stick.localizedName = "STICK";
        m_facts[stick.mountPoint] = stick;

        VolumeFacts share;
        share.mountPoint = "/mnt/Projects";
        share.fileSystemType = "smbfs";
        share.kernelFileSystemType = "cifs";
        share.source = "//nas.local/Projects";
        share.isLocal = false;
        share.blockSize = 512;
        share.blockCount = 7814037168;
        share.name = share.localizedName = "Projects";
        m_facts[share.mountPoint] = share;
        m_nativeAttributes.insert(share.mountPoint);

        VolumeFacts startup;
        startup.mountPoint = "/";
        startup.fileSystemType = "ext4";
        startup.kernelFileSystemType = "ext4";
        startup.source = "/dev/nvme0n1p2";
        startup.blockSize = 4096;
        startup.blockCount = 122070016;
        startup.name = startup.localizedName = "/";
        m_facts[startup.mountPoint] = startup;
        m_nativeAttributes.insert(startup.mountPoint);
    }

    std::optional<VolumeFacts> factsForPath(const std::string &path) const override
    {
        const auto found = m_facts.find(path);
        if (found == m_facts.end())
            return std::nullopt;
        return found->second;
    }

    bool probeNativeExtendedAttributes(const std::string &mountPoint) const override
    {
        return m_nativeAttributes.count(mountPoint) > 0;
    }

    VolumeLocation locate(const std::string &path) const override
    {
        if (path == "/")
            return {"", "/", "/", true};
        const std::size_t slash = path.rfind('/');
        return {path.substr(0, slash + 1), path.substr(slash + 1), path, false};
    }

private:
    std::map<std::string, VolumeFacts> m_facts;
    std::set<std::string> m_nativeAttributes;
};

class DiagnosticsReportTest : public testing::Test
{
protected:
    void SetUp() override { VolumeFactsSource::setCurrentForTesting(std::make_shared<ScriptedVolumes>()); }
    void TearDown() override { VolumeFactsSource::setCurrentForTesting(nullptr); }
};

std::vector<URL> urls(std::initializer_list<const char *> paths)
{
    std::vector<URL> result;
    for (const char *path : paths)
        result.push_back(URL::fileURLWithPath(path));
    return result;
}
}

TEST(DiagInfoTest, IsATabTheLabelAColonAndYesOrNo)
{
    EXPECT_EQ(MainUIController::diagInfo(true, "IsRW"), "\tIsRW:YES");
    EXPECT_EQ(MainUIController::diagInfo(false, "Server"), "\tServer:NO");
}

TEST_F(DiagnosticsReportTest, EveryVolumeGetsItsFactsLineByLineThenThePreferences)
{
    const Dictionary preferences{{"scheduledCleaningEnabled", Value(true)}, {"scheduleDay", Value(2)}};
    const std::string report =
        DiagnosticsReport::text(urls({"/media/me/STICK", "/mnt/Projects", "/", "/media/me/Gone"}), preferences);
    EXPECT_EQ(report,
              "/media/me/STICK\n"
              "\tType:msdos\n"
              "\t/media/me/STICK\n"
              "\t/dev/sdb1\n"
              "\tServer:NO\n"
              "\tisMacDisk:NO\n"
              "\tAttrs:NO\n"
              "\tResources:NO\n"
              "\tIsRW:YES\n"
              "\tAlwaysIgnore:NO\n"
              "\tKey: STICK-msdos-4096-1953024\n"
              "\t0\n\n"
              "/mnt/Projects\n"
              "\tType:smbfs\n"
              "\t/mnt/Projects\n"
              "\t//nas.local/Projects\n"
              "\tServer:YES\n"
              "\tisMacDisk:NO\n"
              "\tAttrs:YES\n"
              "\tResources:YES\n"
              "\tIsRW:YES\n"
              "\tAlwaysIgnore:NO\n"
              "\tKey: Projects-smbfs-512-7814037168\n"
              "\t0\n\n"
              "/\n"
              "\tType:ext4\n"
              "\t/\n"
              "\t/dev/nvme0n1p2\n"
              "\tServer:NO\n"
              "\tisMacDisk:YES\n"
              "\tAttrs:YES\n"
              "\tResources:YES\n"
              "\tIsRW:YES\n"
              "\tAlwaysIgnore:NO\n"
              "\tKey: /-ext4-4096-122070016\n"
              "\t0\n\n"
              // A volume whose facts cannot be read: every flag NO, the names empty.
              "/media/me/Gone\n"
              "\tType:\n"
              "\t\n"
              "\t\n"
              "\tServer:NO\n"
              "\tisMacDisk:NO\n"
              "\tAttrs:NO\n"
              "\tResources:NO\n"
              "\tIsRW:NO\n"
              "\tAlwaysIgnore:NO\n"
              "\tKey: Gone\n"
              "\t-1\n\n"
              "\nPreferences: {\n"
              "    scheduleDay = 2;\n"
              "    scheduledCleaningEnabled = 1;\n"
              "}");
}

TEST_F(DiagnosticsReportTest, MissingPreferencesReadAsNull)
{
    EXPECT_EQ(DiagnosticsReport::text({}, std::nullopt), "\nPreferences: (null)");
}

TEST(DiagnosticsReportDescriptionTest, NestedValuesQuotedStringsDataAndDates)
{
    const Dictionary preferences{
        {"blackList", Value(Array{Value("*.tmp"), Value("Thumbs.db")})},
        {"name", Value("My Disk")},
        {"plain", Value("abc_1.2/x")},
        {"empty", Value("")},
        {"quote", Value("say \"hi\"\n")},
        {"bytes", Value(Data{0x01, 0x02, 0xab, 0xcd, 0xef})},
        {"when", Value(Date{0})},
        {"inner", Value(Dictionary{{"on", Value(false)}})},
        {"none", Value(Array{})},
    };
    EXPECT_EQ(DiagnosticsReport::description(Value(preferences)),
              "{\n"
              "    blackList =     (\n"
              "        \"*.tmp\",\n"
              "        Thumbs.db\n"
              "    );\n"
              "    bytes = <0102abcd ef>;\n"
              "    empty = \"\";\n"
              "    inner =     {\n"
              "        on = 0;\n"
              "    };\n"
              "    name = \"My Disk\";\n"
              "    none =     (\n"
              "    );\n"
              "    plain = abc_1.2/x;\n"
              "    quote = \"say \\\"hi\\\"\\n\";\n"
              "    when = \"1970-01-01 00:00:00 +0000\";\n"
              "}");
}

TEST(DiagnosticsReportFileTest, TheReportIsWrittenToANewInfoFileInTheTemporaryFolder)
{
    const std::string first = DiagnosticsReport::newPath();
    const std::string second = DiagnosticsReport::newPath();
    EXPECT_NE(first, second);
    const QFileInfo info(QString::fromStdString(first));
    EXPECT_EQ(info.absolutePath(), QDir(QDir::tempPath()).absolutePath());
    EXPECT_TRUE(std::regex_match(info.fileName().toStdString(),
                                 std::regex("Tarnwick Info [0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.txt")))
        << info.fileName().toStdString();

    TemporaryDirectory folder;
    const std::string path = folder.file("Tarnwick Info X.txt");
    ASSERT_TRUE(DiagnosticsReport::write(path, "Caf\xC3\xA9\n\tType:msdos\n"));
    EXPECT_EQ(readFile(path), "Caf\xC3\xA9\n\tType:msdos\n");
    EXPECT_FALSE(DiagnosticsReport::write(folder.file("missing/Tarnwick Info Y.txt"), "text"));
    EXPECT_FALSE(fileExists(folder.file("missing/Tarnwick Info Y.txt")));
}

TEST(DiagnosticsReportFileTest, TheReportIsANewFileOnlyItsOwnerCanReadAndNothingFoundAtItsPathIsWritten)
{
    TemporaryDirectory folder;
    const mode_t umaskBefore = umask(0);
    const std::string path = folder.file("Tarnwick Info A.txt");
    const bool written = DiagnosticsReport::write(path, "Preferences: {}");
    umask(umaskBefore);
    ASSERT_TRUE(written);
    struct stat status;
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    // A file already there, even the report's own name, is never written over.
    EXPECT_FALSE(DiagnosticsReport::write(path, "other text"));
    EXPECT_EQ(readFile(path), "Preferences: {}");

    // Nor is a link another user may have left in a shared temporary folder followed.
    const std::string target = folder.file("victim");
    writeFile(target, "keep");
    const std::string link = folder.file("Tarnwick Info B.txt");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(DiagnosticsReport::write(link, "report"));
    EXPECT_EQ(readFile(target), "keep");
    ASSERT_EQ(lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    const std::string dangling = folder.file("Tarnwick Info C.txt");
    ASSERT_EQ(symlink(folder.file("nothing").c_str(), dangling.c_str()), 0);
    EXPECT_FALSE(DiagnosticsReport::write(dangling, "report"));
    EXPECT_FALSE(fileExists(folder.file("nothing")));
}
