#include "DesktopOpener.h"

#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

#include "TestSupport.h"

namespace
{
// The desktop's opener as a program on the search path that notes what it was handed and ends
// with the status it is told; without one on the path nothing can open anything.
class FakeXdgOpen : public testing::Test
{
protected:
    void SetUp() override
    {
        const char *path = std::getenv("PATH");
        m_path = path ? std::optional<std::string>(path) : std::nullopt;
        setenv("PATH", m_bin.path().c_str(), 1);
    }

    void TearDown() override
    {
        if (m_path)
            setenv("PATH", m_path->c_str(), 1);
        else
            unsetenv("PATH");
    }

    void installOpenerEndingWith(int status)
    {
        const std::string script = m_bin.file("xdg-open");
        writeFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + handedFile() + "'\nexit " + std::to_string(status) + "\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }

    std::string handedFile() const { return m_work.file("handed"); }

    // The opener's answer, once it has come.
    std::optional<bool> open(const std::string &path)
    {
        auto answer = std::make_shared<std::optional<bool>>();
        XdgOpener().openFile(path, [answer](bool opened) { *answer = opened; });
        EXPECT_FALSE(answer->has_value()) << "the answer comes from the event loop";
        runEventLoopUntil([answer] { return answer->has_value(); });
        return *answer;
    }

    TemporaryDirectory m_bin;
    TemporaryDirectory m_work;
    std::optional<std::string> m_path;
};
}

TEST_F(FakeXdgOpen, TheFileIsHandedAsAURLOfItsBytesAndTheOpenersStatusSaysWhetherItOpened)
{
    const std::string report = m_work.file("Tarnwick Info 1A2B.txt");
    writeFile(report, "text");
    installOpenerEndingWith(0);
    EXPECT_EQ(open(report), std::optional<bool>(true));
    EXPECT_EQ(readFile(handedFile()), "file://" + m_work.path() + "/Tarnwick%20Info%201A2B.txt");
    EXPECT_EQ(DesktopOpener::fileURL(report).toLocalFile().toStdString(), report);

    // A name that is not UTF-8 reaches the desktop as its bytes.
    const std::string notUtf8 = m_work.file("caf\xe9.txt");
    writeFile(notUtf8, "text");
    EXPECT_EQ(open(notUtf8), std::optional<bool>(true));
    EXPECT_EQ(readFile(handedFile()), "file://" + m_work.path() + "/caf%E9.txt");

    // No application is set up for the file: xdg-open says so by its status.
    installOpenerEndingWith(3);
    EXPECT_EQ(open(report), std::optional<bool>(false));
}

TEST_F(FakeXdgOpen, WithoutTheDesktopsOpenerNothingOpens)
{
    const std::string report = m_work.file("Tarnwick Info 3C4D.txt");
    writeFile(report, "text");
    EXPECT_EQ(open(report), std::optional<bool>(false));
    EXPECT_FALSE(fileExists(handedFile()));
}
