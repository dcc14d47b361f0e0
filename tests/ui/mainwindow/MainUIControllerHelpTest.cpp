#include "MainUIController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <QTextBlock>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Alert.h"
#include "Bundle.h"
#include "ModifierKeySampler.h"
#include "ModifierKeys.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "VolumeFactsSource.h"
#include "MainWindowFixture.h"
#include "OpenedFiles.h"
#include "Screenshot.h"

namespace
{
// Every path lies on a read-only local volume named like the application: a disk image.
class DiskImageVolumes : public VolumeFactsSource
{
public:
    std::optional<VolumeFacts> factsForPath(const std::string &) const override
    {
        VolumeFacts facts;
        facts.mountPoint = "/media/me/" + QCoreApplication::applicationName().toStdString();
        facts.fileSystemType = "cd9660";
        facts.isReadOnly = true;
        facts.isLocal = true;
        facts.name = facts.localizedName = QCoreApplication::applicationName().toStdString();
        return facts;
    }
    bool probeNativeExtendedAttributes(const std::string &) const override { return false; }
    VolumeLocation locate(const std::string &path) const override { return {"", "/", path, true}; }
};

// The help of the real main window, with the bundle's version texts scripted.
class MainUIControllerHelpTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        m_info = Bundle::main().infoDictionary();
        Dictionary info = m_info;
        info["CFBundleShortVersionString"] = Value("2.5.1");
        info["CFBundleVersion"] = Value("2511");
        info["NSHumanReadableCopyright"] = Value("Copyright \u00A9 2026 The Tarnwick developers");
        Bundle::main().setInfoDictionaryForTesting(info);
        m_resources = Bundle::main().resourcesPath();
        m_volumes = VolumeFactsSource::current();
        QMainWindow *window = controller().window();
        window->setGeometry(100, 120, 720, 480);
        window->show();
        ASSERT_TRUE(runEventLoopUntil([window] { return window->isVisible(); }));
    }

    // The main window's help button, as the user clicks it.
    void clickHelpButton() { outlet<QAbstractButton>("helpButton")->click(); }

    void TearDown() override
    {
        controller().helpDoneAction();
        Bundle::main().setInfoDictionaryForTesting(m_info);
        Bundle::main().setResourcesPathForTesting(m_resources);
        ModifierKeys::setFlagsForTesting(std::nullopt);
        VolumeFactsSource::setCurrentForTesting(m_volumes);
        PreferencesSupport::standardUserDefaults().removeObjectForKey("dontShowDiskImageWarning");
        MainWindowTest::TearDown();
    }

    template <typename T>
    T *helpOutlet(const char *name)
    {
        T *found = controller().helpSheet()->findChild<T *>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    Dictionary m_info;
    std::string m_resources;
    std::shared_ptr<const VolumeFactsSource> m_volumes;
};
}

TEST_F(MainUIControllerHelpTest, TheHelpButtonShowsTheSheetWithItsDetailsOnALightPage)
{
    QPalette dark = QApplication::palette();
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, Qt::white);
    const QPalette before = QApplication::palette();
    QApplication::setPalette(dark);

    clickHelpButton();
    QDialog *sheet = controller().helpSheet();
    ASSERT_TRUE(runEventLoopUntil([sheet] { return sheet->isVisible(); }));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), controller().window());
    EXPECT_EQ(sheet->size(), QSize(500, 425));
    EXPECT_TRUE(helpOutlet<QWidget>("helpDetailsContainer")->isVisible());
    EXPECT_EQ(helpOutlet<QLabel>("helpAppName")->text(), QApplication::applicationDisplayName());
    EXPECT_EQ(helpOutlet<QLabel>("helpVersion")->text(), "v2.5.1 (2511)");
    EXPECT_EQ(helpOutlet<QLabel>("helpCopyright")->text(), "Copyright \u00A9 2026 The Tarnwick developers");
    auto *text = helpOutlet<QTextBrowser>("helpText");
    const QString shown = text->toPlainText();
    for (const char *topic : {"What Tarnwick removes", "The three modes", "Cleaning in the background", "The schedule",
                              "Simulation", "~/.cache/org.tarnwick.Tarnwick/", "~/.config/tarnwick/org.tarnwick.Tarnwick.plist"})
        EXPECT_TRUE(shown.contains(QLatin1String(topic))) << topic;
    EXPECT_GT(text->palette().color(QPalette::Base).lightness(), 200);
    EXPECT_LT(text->palette().color(QPalette::Text).lightness(), 60);
    saveScreenshot(sheet, "HelpSheet");

    QApplication::setPalette(before);
    helpOutlet<QAbstractButton>("helpDoneButton")->click();
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(MainUIControllerHelpTest, TheFirstLaunchPanelStandsFreeNearTheMainWindowAndTheSheetGetsItsFrameBack)
{
    auto *text = helpOutlet<QTextBrowser>("helpText");
    const QRect designed = text->geometry();
    QMainWindow *window = controller().window();

    controller().helpAction(nullptr);
    QDialog *panel = controller().helpSheet();
    ASSERT_TRUE(runEventLoopUntil([panel] { return panel->isVisible(); }));
    EXPECT_EQ(panel->windowModality(), Qt::NonModal);
    EXPECT_FALSE(helpOutlet<QWidget>("helpDetailsContainer")->isVisible());
    EXPECT_EQ(text->geometry(), QRect(designed.x(), 0, designed.width(), 425));
    EXPECT_EQ(panel->pos(),
              MainUIController::helpPanelTopLeft(window->frameGeometry(), window->screen()->geometry().width()));
    EXPECT_FALSE(text->toPlainText().isEmpty());
    ASSERT_TRUE(runEventLoopUntil([panel] { return panel->windowOpacity() == 1.0; }));
    saveScreenshot(panel, "HelpPanel-first-launch");

    // The help button later: the text goes back to where the interface file put it, every time.
    clickHelpButton();
    EXPECT_EQ(text->geometry(), designed);
    EXPECT_TRUE(helpOutlet<QWidget>("helpDetailsContainer")->isVisible());
    controller().helpDoneAction();
    clickHelpButton();
    EXPECT_EQ(text->geometry(), designed);
}

TEST(MainUIControllerHelpPlacementTest, TopLeftCornerNearTheMainWindowsTopRightFurtherRightOnWideScreens)
{
    const QRect mainWindow(100, 120, 720, 480);
    EXPECT_EQ(MainUIController::helpPanelTopLeft(mainWindow, 1920), QPoint(620, 190));
    EXPECT_EQ(MainUIController::helpPanelTopLeft(mainWindow, 2000), QPoint(620, 190));
    EXPECT_EQ(MainUIController::helpPanelTopLeft(mainWindow, 2560), QPoint(845, 190));
}

TEST_F(MainUIControllerHelpTest, WithoutTheHelpResourceThePanelShowsEmpty)
{
    TemporaryDirectory emptyResources;
    Bundle::main().setResourcesPathForTesting(emptyResources.path());
    clickHelpButton();
    ASSERT_TRUE(controller().helpSheet()->isVisible());
    EXPECT_TRUE(helpOutlet<QTextBrowser>("helpText")->toPlainText().isEmpty());
}

TEST_F(MainUIControllerHelpTest, WithAltHeldTheButtonWritesAndOpensTheReportAndShowsNoHelp)
{
    ScopedDesktopOpener opener;
    std::vector<std::string> logged;
    const int sink = SystemLog::addSink([&logged](const std::string &message) { logged.push_back(message); });
    ModifierKeys::setFlagsForTesting(ModifierKeys::optionKeyMask);
    // Even where every new file would be readable by all, the report is its owner's alone.
    const mode_t umaskBefore = umask(0);

    clickHelpButton();

    umask(umaskBefore);
    SystemLog::removeSink(sink);
    EXPECT_FALSE(controller().helpSheet()->isVisible());
    ASSERT_EQ(opener->handed.size(), 1u);
    const std::string path = opener->handed.front();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(path)).fileName().startsWith("Tarnwick Info ")) << path;
    struct stat status;
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    const std::string report = readFile(path);
    ::unlink(path.c_str());
    EXPECT_NE(report.find("\tKey: "), std::string::npos);
    EXPECT_NE(report.find("\nPreferences: "), std::string::npos);
    EXPECT_NE(std::find(logged.begin(), logged.end(), report), logged.end()) << "the report goes to the system log";
    EXPECT_TRUE(alerts->shown.empty());

    // Nothing can open it: an alert tells where it is; the system log has it all the same.
    opener->opens = false;
    logged.clear();
    const int secondSink = SystemLog::addSink([&logged](const std::string &message) { logged.push_back(message); });
    clickHelpButton();
    SystemLog::removeSink(secondSink);
    ASSERT_EQ(opener->handed.size(), 2u);
    const std::string unopened = opener->handed.back();
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].messageText, "No application could open the file.");
    EXPECT_EQ(alerts->shown[0].informativeText, "The file is here:\n" + unopened);
    EXPECT_TRUE(fileExists(unopened)) << "the report stays where the alert says";
    EXPECT_NE(std::find(logged.begin(), logged.end(), readFile(unopened)), logged.end());
    ::unlink(unopened.c_str());
    EXPECT_FALSE(controller().helpSheet()->isVisible());
}

TEST_F(MainUIControllerHelpTest, AltAndEnterOnTheFocusedHelpButtonWriteTheReportWhereAltWithAClickIsTaken)
{
    ModifierKeySampler::install();
    ScopedDesktopOpener opener;
    auto *button = outlet<QAbstractButton>("helpButton");
    button->setFocus(Qt::TabFocusReason);

    // The key events themselves carry Alt, as the desktop delivers them.
    QTest::keyClick(button, Qt::Key_Return, Qt::AltModifier);
    EXPECT_FALSE(controller().helpSheet()->isVisible());
    ASSERT_EQ(opener->handed.size(), 1u);
    const QString path = QString::fromStdString(opener->handed.front());
    EXPECT_TRUE(QFileInfo(path).fileName().startsWith("Tarnwick Info ")) << path.toStdString();
    QFile::remove(path);

    // Enter alone is the help, and the help says how to reach the report.
    QTest::keyClick(button, Qt::Key_Enter);
    QDialog *sheet = controller().helpSheet();
    ASSERT_TRUE(runEventLoopUntil([sheet] { return sheet->isVisible(); }));
    const QString help = helpOutlet<QTextBrowser>("helpText")->toPlainText().simplified();
    EXPECT_TRUE(help.contains("press Alt+Enter")) << help.toStdString();
    EXPECT_TRUE(help.contains("removes a disk's own system folders at its top (.Spotlight-V100, .Trashes, "
                              ".fseventsd and the others switched on in its list) when it is mounted"))
        << "a mount takes the disk's system folders only";
    EXPECT_TRUE(help.contains("the .DS_Store and ._ files at its top included, is cleaned as files change"));
    EXPECT_FALSE(help.contains("cleans the top folder of a disk when it is mounted"));
    EXPECT_EQ(opener->handed.size(), 1u);
}

TEST_F(MainUIControllerHelpTest, TheDiskImageWarningUntilItsBoxIsTicked)
{
    controller().warnIfRunningOnDiskImage();
    EXPECT_TRUE(alerts->shown.empty()) << "the test program does not run from a disk image";

    VolumeFactsSource::setCurrentForTesting(std::make_shared<DiskImageVolumes>());
    alerts->answer = 1; // Continue
    controller().warnIfRunningOnDiskImage();
    ASSERT_EQ(alerts->shown.size(), 1u);
    const ScriptedAlerts::Shown &alert = alerts->shown.front();
    EXPECT_EQ(alert.style, Alert::Style::informational);
    EXPECT_EQ(alert.messageText, "Drag Tarnwick to a folder on your hard drive.");
    EXPECT_EQ(alert.informativeText, "Tarnwick appears to be running from a disk image. You should drag Tarnwick to "
                                      "a folder on your hard drive before opening it.");
    EXPECT_TRUE(alert.showsSuppressionButton);
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Quit", "Continue"}));

    alerts->tickSuppression = true;
    controller().warnIfRunningOnDiskImage();
    EXPECT_EQ(alerts->shown.size(), 2u);
    EXPECT_TRUE(PreferencesSupport::standardUserDefaults().boolForKey("dontShowDiskImageWarning"));
    controller().warnIfRunningOnDiskImage();
    EXPECT_EQ(alerts->shown.size(), 2u) << "a ticked box is not shown again";
    // The application was told nothing: Continue keeps it running.
    QTimer::singleShot(0, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QCoreApplication::exec(), 7);
}

TEST_F(MainUIControllerHelpTest, QuitEndsTheApplicationAlsoBeforeItsEventLoopRuns)
{
    VolumeFactsSource::setCurrentForTesting(std::make_shared<DiskImageVolumes>());
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(2); });

    // At start-up: the warning comes before the event loop runs.
    controller().warnIfRunningOnDiskImage();
    ASSERT_EQ(alerts->shown.size(), 1u);
    watchdog.start(10000);
    EXPECT_EQ(QCoreApplication::exec(), 0);

    // While running.
    QTimer::singleShot(0, [] { controller().warnIfRunningOnDiskImage(); });
    watchdog.start(10000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(alerts->shown.size(), 2u);
    watchdog.stop();
}

TEST_F(MainUIControllerHelpTest, TheAboutTextHasTheIconTheVersionAndItsFonts)
{
    const QIcon before = QApplication::windowIcon();
    QPixmap icon(80, 80);
    icon.fill(Qt::darkCyan);
    QApplication::setWindowIcon(QIcon(icon));

    QTextDocument document;
    QTextCursor(&document).insertFragment(controller().tarnwickInfoAttributedString());
    QApplication::setWindowIcon(before);

    QTextBrowser shown;
    shown.setPalette(QPalette(Qt::white));
    shown.resize(360, 300);
    QTextCursor(shown.document()).insertFragment(QTextDocumentFragment(&document));
    shown.show();
    saveScreenshot(&shown, "AboutText");

    EXPECT_EQ(document.toPlainText(), QString("\n") + QChar::ObjectReplacementCharacter
                                          + "\nTarnwick\nVersion 2.5.1 (2511)\n\nCopyright \u00A9 2026 The Tarnwick "
                                            "developers\nAdditional credits below.\n\n\n");
    const auto formatAt = [&document](const QString &text) {
        QTextCursor cursor = document.find(text);
        EXPECT_FALSE(cursor.isNull()) << text.toStdString();
        return cursor.charFormat();
    };
    const QTextCharFormat heading = formatAt("Tarnwick");
    EXPECT_EQ(heading.font().family(), "Helvetica");
    EXPECT_EQ(heading.font().pointSize(), 14);
    EXPECT_TRUE(heading.font().bold());
    EXPECT_EQ(formatAt("Version 2.5.1").font().pointSize(), 12);
    EXPECT_EQ(formatAt("Additional credits below.").font().pointSize(), 10);
    EXPECT_EQ(formatAt("Additional credits below.").font().family(), "Helvetica");
    EXPECT_EQ(heading.foreground().color().red(), 38);
    EXPECT_EQ(heading.foreground().color(), formatAt("Copyright").foreground().color());

    const QTextBlock iconBlock = document.findBlockByNumber(1);
    EXPECT_EQ(iconBlock.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QTextCursor atIcon(iconBlock);
    atIcon.movePosition(QTextCursor::NextCharacter);
    const QTextImageFormat image = atIcon.charFormat().toImageFormat();
    ASSERT_TRUE(image.isValid());
    EXPECT_EQ(image.width(), 64);
    EXPECT_EQ(image.height(), 64);
    EXPECT_FALSE(document.resource(QTextDocument::ImageResource, QUrl(image.name())).isNull());
    EXPECT_EQ(document.findBlockByNumber(2).blockFormat().tabPositions().front().position, 36.0);
}

