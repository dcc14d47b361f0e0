#include "ExamineWindowController.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QTreeView>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <gtest/gtest.h>
#include <ostream>
#include <set>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "Alert.h"
#include "GCDAdditions.h"
#include "GlobalOwner.h"
#include "MountTable.h"
#include "NodeListModel.h"
#include "OpenPanel.h"
#include "RecordingAlerts.h"
#include "ScopedMount.h"
#include "TestSupport.h"
#include "Screenshot.h"

// Readable failure messages.
void PrintTo(const ExamineWindowController::FoundItem &item, std::ostream *out)
{
    *out << "{\"" << item.name << "\", \"" << item.parent << "\"}";
}

namespace
{
using FoundItem = ExamineWindowController::FoundItem;
using Items = std::vector<FoundItem>;

class ScriptedFolderPanel : public OpenPanelPresenter
{
public:
    std::int64_t present(OpenPanel &panel) override
    {
        ++shown;
        choseFoldersOnly = panel.canChooseDirectories() && !panel.canChooseFiles();
        if (!folder)
            return OpenPanel::cancelResponse;
        panel.setURLs({URL::fileURLWithPath(*folder)});
        return OpenPanel::OKResponse;
    }

    std::optional<std::string> folder;
    int shown = 0;
    bool choseFoldersOnly = false;
};

// An icon theme of one folder icon, current while the object lives.
class ScopedFolderIconTheme
{
public:
    ScopedFolderIconTheme()
        : m_searchPaths(QIcon::themeSearchPaths())
        , m_name(QIcon::themeName())
    {
        const std::string theme = m_folder.file("examine-test");
        std::filesystem::create_directories(theme + "/16x16/places");
        writeFile(theme + "/index.theme",
                  "[Icon Theme]\nName=examine-test\nDirectories=16x16/places\n\n[16x16/places]\nSize=16\nType=Fixed\n");
        QPixmap folderIcon(16, 16);
        folderIcon.fill(Qt::darkYellow);
        folderIcon.save(QString::fromStdString(theme + "/16x16/places/folder.png"));
        QIcon::setThemeSearchPaths({QString::fromStdString(m_folder.path())});
        QIcon::setThemeName(QStringLiteral("examine-test"));
    }
    ~ScopedFolderIconTheme()
    {
        QIcon::setThemeSearchPaths(m_searchPaths);
        QIcon::setThemeName(m_name);
    }

private:
    TemporaryDirectory m_folder;
    QStringList m_searchPaths;
    QString m_name;
};

void makeFolder(const std::string &path)
{
    std::filesystem::create_directories(path);
}

// A tree with metadata on three levels and one ordinary item beside each.
void makeSampleTree(const std::string &root)
{
    makeFolder(root + "/sub/deeper");
    makeFolder(root + "/.Trashes");
    writeFile(root + "/.DS_Store", "ds");
    writeFile(root + "/notes.txt", "keep");
    writeFile(root + "/sub/a.jpg", "jpg");
    writeFile(root + "/sub/._a.jpg", "companion");
    writeFile(root + "/sub/deeper/._b.jpg", "companion");
}

void setAttribute(const std::string &path, const std::string &name, const std::string &value)
{
    ASSERT_EQ(lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0) << name;
}

QWidget *visibleExamineWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("examineWindow") && widget->isVisible())
            return widget;
    return nullptr;
}

int examineWindows()
{
    int windows = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        windows += widget->objectName() == QLatin1String("examineWindow");
    return windows;
}

class ExamineWindowControllerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_panel = std::make_shared<ScriptedFolderPanel>();
        m_alerts = std::make_shared<RecordingAlerts>();
        OpenPanel::setPresenter(m_panel);
        Alert::setPresenter(m_alerts);
        m_ownedBefore = GlobalOwner::count();
    }

    void TearDown() override
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String("examineWindow") && widget->isVisible())
                widget->close();
        // The controllers are let go on a later turn of the main loop, their windows with them.
        EXPECT_TRUE(runEventLoopUntil([] { return examineWindows() == 0; }));
        MountTable::setSourceForTesting(nullptr);
        OpenPanel::setPresenter(nullptr);
        Alert::setPresenter(nullptr);
    }

    // Runs the menu command on the folder and waits for its window.
    QWidget *examine(const std::string &folder)
    {
        m_panel->folder = folder;
        examineUserAction();
        if (!runEventLoopUntil([] { return visibleExamineWindow() != nullptr; }))
            return nullptr;
        return visibleExamineWindow();
    }

    static std::vector<std::pair<QString, QString>> rows(QWidget *window)
    {
        auto *model = window->findChild<QTreeView *>("table")->model();
        std::vector<std::pair<QString, QString>> found;
        for (int row = 0; row < model->rowCount(); ++row)
            found.emplace_back(model->index(row, 0).data().toString(), model->index(row, 1).data().toString());
        return found;
    }

    // Makes the folder the mount point of a scripted volume of that kernel type.
    static void mountScripted(const std::string &folder, const std::string &type)
    {
        MountTable::setSourceForTesting(std::make_shared<ScriptedMountInfoSource>(
            "1 0 254:0 / / rw - ext4 /dev/vda rw\n2 1 0:77 / " + folder + " rw - " + type + " server:/share rw\n"));
    }

    std::shared_ptr<ScriptedFolderPanel> m_panel;
    std::shared_ptr<RecordingAlerts> m_alerts;
    std::size_t m_ownedBefore = 0;
};
}

TEST_F(ExamineWindowControllerTest, OnANativeDiskOnlyBuiltInAndAppleDoubleNamesAreFoundTwoLevelsDeep)
{
    TemporaryDirectory folder;
    const std::string root = folder.file("Photos");
    makeSampleTree(root);
    const std::string name = "Photos";

    // ".Trashes" is an option item's name, looked for only off the platform's own disks.
    EXPECT_EQ(ExamineWindowController::examineDirectory(URL::fileURLWithPath(root), 2, 0),
              (Items{{".DS_Store", name}, {"._a.jpg", "sub"}}));
    EXPECT_TRUE(ExamineWindowController::examineDirectory(URL::fileURLWithPath(root), 2, 2).empty());
    EXPECT_EQ(ExamineWindowController::examineDirectory(URL::fileURLWithPath(root), 3, 0),
              (Items{{".DS_Store", name}, {"._a.jpg", "sub"}, {"._b.jpg", "deeper"}}));
}

TEST_F(ExamineWindowControllerTest, OnAFatFamilyDiskTheOptionItemsNamesAreFoundTooAndNothingChanges)
{
    if (!isRoot())
        GTEST_SKIP() << "mounting an exFAT image needs root";
    TemporaryDirectory folder;
    const std::string image = folder.file("stick.img");
    const std::string mountPoint = folder.file("STICK");
    makeFolder(mountPoint);
    if (!ScopedMount::makeExfatImage(image))
        GTEST_SKIP() << "mkfs.exfat is not available";
    ScopedMount mount = ScopedMount::exfatImage(image, mountPoint);
    if (!mount.isMounted())
        GTEST_SKIP() << mount.failure();

    makeSampleTree(mountPoint);
    writeFile(mountPoint + "/Thumbs.db", "thumbs");
    const Items found = ExamineWindowController::examineDirectory(URL::fileURLWithPath(mountPoint), 2, 0);
    // Files (in listing order) before folders, then the level below.
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ((std::set<std::string>{found[0].name, found[1].name}), (std::set<std::string>{".DS_Store", "Thumbs.db"}));
    EXPECT_EQ(found[0].parent, "STICK");
    EXPECT_EQ(found[1].parent, "STICK");
    EXPECT_EQ(found[2], (FoundItem{".Trashes", "STICK"}));
    EXPECT_EQ(found[3], (FoundItem{"._a.jpg", "sub"}));

    QWidget *window = examine(mountPoint);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->findChild<QLabel *>("aboveTableDescription")->text(),
              "Examine shows a small sample of the metadata Tarnwick can find and remove inside STICK (exfat).");
    EXPECT_FALSE(window->findChild<QWidget *>("afpWarning")->isVisible());
    saveScreenshot(window, "ExamineWindow-exfat");

    // Examining deletes nothing.
    for (const char *item : {"/.DS_Store", "/Thumbs.db", "/.Trashes", "/sub/._a.jpg", "/sub/deeper/._b.jpg"})
        EXPECT_TRUE(std::filesystem::exists(mountPoint + item)) << item;
}

TEST_F(ExamineWindowControllerTest, AttributesAreListedUnderTheirItemWithoutTheApplePrefix)
{
    TemporaryDirectory folder;
    const std::string root = folder.file("Shared");
    makeFolder(root);
    const std::string file = root + "/photo.jpg";
    writeFile(file, "jpg");
    setAttribute(file, "user.com.apple.FinderInfo", std::string(31, '\0') + "\x01");
    setAttribute(file, "user.user.x", "x");
    // The desktop's own attributes are not Mac metadata.
    writeFile(root + "/plain.txt", "text");
    setAttribute(root + "/plain.txt", "user.xdg.origin.url", "https://example.org/");

    const Items found = ExamineWindowController::examineDirectoryForAttrs(URL::fileURLWithPath(root));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0], (FoundItem{"photo.jpg", "Shared"}));
    const std::set<std::pair<std::string, std::string>> attributeRows{{found[1].name, found[1].parent},
                                                                      {found[2].name, found[2].parent}};
    EXPECT_EQ(attributeRows, (std::set<std::pair<std::string, std::string>>{{"    FinderInfo", ""}, {"    user.x", ""}}));
}

TEST(ExamineDescriptionTest, AVolumeWithALabelIsNamedWithBoth)
{
    EXPECT_EQ(ExamineWindowController::displayName("Photos", "Photos"), "Photos");
    EXPECT_EQ(ExamineWindowController::displayName("sdb1", "HOLIDAYS"), "sdb1 on HOLIDAYS");
    EXPECT_EQ(ExamineWindowController::descriptionText("sdb1 on HOLIDAYS", "exfat"),
              "Examine shows a small sample of the metadata Tarnwick can find and remove inside sdb1 on HOLIDAYS "
              "(exfat).");
}

TEST_F(ExamineWindowControllerTest, ALinkIsNeverFollowed)
{
    TemporaryDirectory folder;
    const std::string root = folder.file("Top");
    makeFolder(root);
    makeSampleTree(folder.file("elsewhere"));
    setAttribute(folder.file("elsewhere/notes.txt"), "user.com.apple.quarantine", "q");
    std::filesystem::create_directory_symlink(folder.file("elsewhere"), root + "/link");
    std::filesystem::create_symlink(folder.file("elsewhere/notes.txt"), root + "/notes-link");

    EXPECT_TRUE(ExamineWindowController::examineDirectory(URL::fileURLWithPath(root), 2, 0).empty());
    EXPECT_TRUE(ExamineWindowController::examineDirectoryForAttrs(URL::fileURLWithPath(root)).empty());
}

TEST_F(ExamineWindowControllerTest, TheWindowShowsTheMetadataThenTheAttributesOfTheChosenFolder)
{
    TemporaryDirectory folder;
    const std::string root = folder.file("Photos");
    makeSampleTree(root);
    setAttribute(root + "/notes.txt", "user.com.apple.metadata:_kMDItemUserTags", "tags");
    ScopedFolderIconTheme theme;

    QWidget *window = examine(root);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(m_panel->choseFoldersOnly);
    EXPECT_EQ(window->windowTitle(), "Photos");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(rows(window), (std::vector<std::pair<QString, QString>>{{".DS_Store", "Photos"},
                                                                      {"._a.jpg", "sub"},
                                                                      {"notes.txt", "Photos"},
                                                                      {"    metadata:_kMDItemUserTags", ""}}));
    const QString description = window->findChild<QLabel *>("aboveTableDescription")->text();
    EXPECT_TRUE(description.startsWith(
        "Examine shows a small sample of the metadata Tarnwick can find and remove inside Photos ("))
        << description.toStdString();
    // The test folder lies on one of the platform's own disks.
    EXPECT_TRUE(window->findChild<QWidget *>("afpWarning")->isVisible());
    // Linux has its own command for attributes, where a Mac holds Shift down.
    EXPECT_EQ(window->findChild<QLabel *>("warningText")->text().toStdString(),
              "This disk is formatted as APFS, HFS or a Linux format. If you wish to remove xattr metadata, you will "
              "need to choose \"Clean Attributes...\" from the Tarnwick menu in the system tray.");
    EXPECT_EQ(GlobalOwner::count(), m_ownedBefore + 1);
    saveScreenshot(window, "ExamineWindow");

    window->close();
    EXPECT_TRUE(runEventLoopUntil([this] { return GlobalOwner::count() == m_ownedBefore; }));
    // Examining deletes and changes nothing.
    for (const char *item : {"/.DS_Store", "/.Trashes", "/sub/._a.jpg", "/sub/deeper/._b.jpg"})
        EXPECT_TRUE(std::filesystem::exists(root + item)) << item;
    char value[16];
    EXPECT_EQ(getxattr((root + "/notes.txt").c_str(), "user.com.apple.metadata:_kMDItemUserTags", value, sizeof value), 4);
}

TEST_F(ExamineWindowControllerTest, ClosingTheWindowReleasesItsController)
{
    TemporaryDirectory folder;
    makeSampleTree(folder.path());
    m_panel->folder = folder.path();
    std::weak_ptr<ExamineWindowController> released;
    {
        const std::shared_ptr<ExamineWindowController> controller = ExamineWindowController::create();
        released = controller;
        controller->askUser();
    }
    ASSERT_TRUE(runEventLoopUntil([] { return visibleExamineWindow() != nullptr; }));
    EXPECT_FALSE(released.expired());
    visibleExamineWindow()->close();
    EXPECT_TRUE(runEventLoopUntil([&released] { return released.expired(); }));
}

TEST_F(ExamineWindowControllerTest, SeveralExaminationsHaveAWindowEach)
{
    TemporaryDirectory first;
    TemporaryDirectory second;
    makeSampleTree(first.path());
    makeSampleTree(second.path());
    m_panel->folder = first.path();
    examineUserAction();
    m_panel->folder = second.path();
    examineUserAction();
    EXPECT_TRUE(runEventLoopUntil([] {
        int shown = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            shown += widget->objectName() == QLatin1String("examineWindow") && widget->isVisible();
        return shown == 2;
    }));
    EXPECT_EQ(GlobalOwner::count(), m_ownedBefore + 2);
}

TEST_F(ExamineWindowControllerTest, CancellingThePanelShowsNothingAndKeepsNothing)
{
    m_panel->folder.reset();
    examineUserAction();
    EXPECT_EQ(m_panel->shown, 1);
    EXPECT_EQ(GlobalOwner::count(), m_ownedBefore);
    runEventLoopFor(std::chrono::milliseconds(50));
    EXPECT_EQ(visibleExamineWindow(), nullptr);
}

TEST_F(ExamineWindowControllerTest, AFolderWithNothingToShowGivesTheAlertAndNoWindow)
{
    TemporaryDirectory folder;
    const std::string root = folder.file("Empty Folder");
    makeFolder(root + "/inner");
    writeFile(root + "/inner/readme.txt", "plain");

    m_panel->folder = root;
    examineUserAction();
    ASSERT_TRUE(runEventLoopUntil([this] { return !m_alerts->alerts.empty(); }));
    const Alert &alert = m_alerts->alerts.front();
    EXPECT_EQ(alert.messageText(), "No metadata items found in \u201CEmpty Folder\u201D which Tarnwick can remove.");
    EXPECT_EQ(alert.informativeText(),
              "The disk may have already been cleaned by Tarnwick or some items are inaccessible.");
    EXPECT_EQ(alert.buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(visibleExamineWindow(), nullptr);
    // The controller is let go once the alert is answered.
    EXPECT_TRUE(runEventLoopUntil([this] { return GlobalOwner::count() == m_ownedBefore; }));
}

TEST_F(ExamineWindowControllerTest, AnAfpDiskShowsTheAfpWarningAndOtherDisksGiveTheTableItsPlace)
{
    TemporaryDirectory afpFolder;
    TemporaryDirectory fatFolder;
    makeSampleTree(afpFolder.path());
    makeSampleTree(fatFolder.path());

    mountScripted(afpFolder.path(), "afpfs");
    QWidget *afp = examine(afpFolder.path());
    ASSERT_NE(afp, nullptr);
    const QString afpName = QString::fromStdString(URL::fileURLWithPath(afpFolder.path()).lastPathComponent());
    EXPECT_EQ(afp->findChild<QLabel *>("aboveTableDescription")->text(),
              "Examine shows a small sample of the metadata Tarnwick can find and remove inside " + afpName
                  + " (afpfs).");
    QWidget *warning = afp->findChild<QWidget *>("afpWarning");
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(afp->findChild<QLabel *>("warningText")->text().toStdString(), ExamineWindowController::afpWarningText);
    saveScreenshot(afp, "ExamineWindow-afp");
    const int tableHeightWithWarning = afp->findChild<QWidget *>("tableContainer")->height();
    const int warningHeight = warning->height();
    afp->close();

    mountScripted(fatFolder.path(), "vfat");
    QWidget *fat = examine(fatFolder.path());
    ASSERT_NE(fat, nullptr);
    EXPECT_TRUE(fat->findChild<QLabel *>("aboveTableDescription")->text().endsWith(" (msdos)."));
    EXPECT_FALSE(fat->findChild<QWidget *>("afpWarning")->isVisible());
    EXPECT_GE(fat->findChild<QWidget *>("tableContainer")->height(), tableHeightWithWarning + warningHeight);
}

TEST_F(ExamineWindowControllerTest, TheScanRunsOnTheSerialQueueAndShowResultsReturnsAtOnce)
{
    TemporaryDirectory folder;
    makeSampleTree(folder.path());
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    GCDAdditions::defaultInstance().serially([opened] { opened.wait(); });

    m_panel->folder = folder.path();
    examineUserAction();
    // The queue is held: the window waits while the main loop keeps running.
    runEventLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(visibleExamineWindow(), nullptr);
    gate.set_value();
    EXPECT_TRUE(runEventLoopUntil([] { return visibleExamineWindow() != nullptr; }));
}

TEST_F(ExamineWindowControllerTest, AFolderOfAHundredThousandEntriesIsExamined)
{
    TemporaryDirectory folder;
    const std::string root = folder.file("Big");
    makeFolder(root);
    // Memory makes a hundred thousand files quickly; a disk may take many seconds.
    std::optional<ScopedMount> memory;
    if (isRoot())
        memory.emplace("tmpfs", root);
    for (int index = 0; index < 100000; ++index) {
        const std::string name = (index % 100 == 0 ? "._file" : "file") + std::to_string(index);
        const int descriptor = ::open((root + "/" + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(descriptor, 0);
        ::close(descriptor);
    }
    QWidget *window = examine(root);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->findChild<QTreeView *>("table")->model()->rowCount(), 1000);
}
