#include "MainUIController.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QMenu>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <iostream>

#include "AdvancedWindowController.h"
#include "Alert.h"
#include "AppDelegate.h"
#include "DesktopOpener.h"
#include "GCDAdditions.h"
#include "LaunchFlags.h"
#include "LocalizedString.h"
#include "ModifierKeys.h"
#include "NodeTreeModel.h"
#include "OpenPanel.h"
#include "PreferencesSupport.h"
#include "ResourcesSupport.h"
#include "SoftwareUpdater.h"
#include "SystemVersion.h"
#include "TarnwickLaunchdHelper.h"
#include "UserDefaults.h"
#include "XEngine.h"
#include "XTWStore.h"

namespace
{
constexpr const char *showInDockKey = "kTWShowInDockKey";
constexpr const char *spotlightAdviceKey = "shownMojaveSpotlightAdvice_22";
constexpr const char *fullDiskAccessSettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles";

// The helper-tool installation is scheduled once per process.
bool g_helperToolInstallScheduled = false;
}

void MainUIController::show()
{
    // Built for the first showing; from then on every change of the store rebuilds it.
    if (!m_sourceListBuilt)
        populateSourceTable();
    const QModelIndex first = m_sourceController->index(0, 0);
    if (first.isValid())
        m_sourceTable->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect);
    populateDetailsTable();

    m_window->show();
    m_window->raise();
    m_window->activateWindow();

    showMojaveSpotlightAdvice();

    if (LaunchFlags::newInstall && !LaunchFlags::newInstallHasShownHelp) {
        LaunchFlags::newInstallHasShownHelp = true;
        if (m_helpDetailsContainer)
            GCDAdditions::performBlockAfterDelay(1.0f, [this] { helpAction(nullptr); });
    }
}

void MainUIController::savePreferences()
{
    storeAnyChangesToFlags();
    XTWStore::shared().save();
}

void MainUIController::windowDidResignKey()
{
    GCDAdditions::performBlockAfterDelay(5.0f, [this] {
        storeAnyChangesToFlags();
        savePreferences();
        statisticsManagerUpdate();
        XTWStore::shared().accessSecurityScopedSourceItems();
    });
}

bool MainUIController::validateMenuItem(QAction *item)
{
    const int tag = item->property("tag").toInt();
    if (tag == openAtLoginMenuItemTag)
        vaidateOpenAtLoginMenuItem(item);
    else if (tag == showInDockMenuItemTag)
        validateShowInDockMenuItem(item);
    if (item == m_automaticallyCheckForUpdatesItem) {
        item->setCheckable(true);
        item->setChecked(m_sparkle->automaticallyChecksForUpdates());
    }
    item->setEnabled(true);
    return true;
}

void MainUIController::vaidateOpenAtLoginMenuItem(QAction *item)
{
    item->setCheckable(true);
    if (m_isAppStoreVersion)
        item->setChecked(PreferencesSupport::standardUserDefaults().boolForKey("openAtLogin"));
    else
        item->setChecked(loginItemExists());
}

void MainUIController::validateShowInDockMenuItem(QAction *item)
{
    connect(item, &QAction::triggered, this, &MainUIController::showInDockUserAction, Qt::UniqueConnection);
    item->setCheckable(true);
    item->setChecked(PreferencesSupport::standardUserDefaults().boolForKey(showInDockKey));
}

void MainUIController::automaticallyCheckForUpdates()
{
    m_sparkle->setAutomaticallyChecksForUpdates(!m_sparkle->automaticallyChecksForUpdates());
}

void MainUIController::alertError(const QString &message)
{
    Alert alert;
    alert.setStyle(Alert::Style::critical);
    alert.setMessageText("Tarnwick");
    alert.setInformativeText(message.toStdString());
    alert.addButton(LSFK("OK"));
    alert.runModal();
}

void MainUIController::openWithDesktop(const std::string &path)
{
    DesktopOpener::current().openFile(path, [path](bool opened) {
        if (opened)
            return;
        Alert alert;
        alert.setStyle(Alert::Style::warning);
        alert.setMessageText(LSFK("No application could open the file."));
        std::string informative = LSFK("The file is here:\n%@");
        if (const std::size_t at = informative.find("%@"); at != std::string::npos)
            informative.replace(at, 2, path);
        alert.setInformativeText(informative);
        alert.addButton(LSFK("OK"));
        alert.runModal();
    });
}

void MainUIController::openAtLogin()
{
    if (m_isAppStoreVersion)
        return;
    if (loginItemExists()) {
        removeLoginItem();
        TarnwickLaunchdHelper::sharedInstance().deinstall();
    } else {
        addLoginItem();
        TarnwickLaunchdHelper::sharedInstance().installIfNeeded();
    }
}

void MainUIController::makeSureHelperToolIsInstalledIfNeeded()
{
    if (m_isAppStoreVersion || g_helperToolInstallScheduled)
        return;
    g_helperToolInstallScheduled = true;
    GCDAdditions::performBlockAfterDelay(15.0f, [] { TarnwickLaunchdHelper::sharedInstance().installIfNeeded(); });
}

void MainUIController::applyShowInDock()
{
    // Out of the taskbar is a tool window; Wayland's compositors offer no such choice.
    const bool showInDock = PreferencesSupport::standardUserDefaults().boolForKey(showInDockKey);
    const bool tool = !showInDock && QGuiApplication::platformName() != QLatin1String("wayland");
    if (m_window->windowFlags().testFlag(Qt::Tool) == tool)
        return;
    const bool wasVisible = m_window->isVisible();
    m_window->setWindowFlag(Qt::Tool, tool);
    if (wasVisible)
        m_window->show();
}

void MainUIController::showInDockUserAction()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value(!defaults.boolForKey(showInDockKey)), showInDockKey);
    applyShowInDock();
}

void MainUIController::quitAction()
{
    if (!m_isAppStoreVersion)
        TarnwickLaunchdHelper::sharedInstance().deinstall();
    QCoreApplication::quit();
}

void MainUIController::showAcknowledgments()
{
    const std::optional<std::string> path = ResourcesSupport::pathForResourceWithName("Acknowledgments.pdf");
    if (!path) {
        std::cout << "Acknowledgments.pdf is missing." << std::endl;
        return;
    }
    openWithDesktop(*path);
}

void MainUIController::cleanUsingTarnwickMenuAction()
{
    cleanUsingTarnwickMenuActionShiftWasDown((ModifierKeys::currentFlags() & ModifierKeys::shiftKeyMask) != 0);
}

void MainUIController::cleanUsingTarnwickMenuActionAlternate()
{
    cleanUsingTarnwickMenuActionShiftWasDown(true);
}

void MainUIController::cleanUsingTarnwickMenuActionShiftWasDown(bool shiftWasDown)
{
    OpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(true);
    panel.setPrompt(LSFK("Choose"));
    if (shiftWasDown) {
        panel.setTitle(LSFK("Pick folder or file to clean..."));
    } else {
        panel.setAllowedFileTypes({"zip", "tgz", "gz"});
        panel.setTitle(LSFK("Pick a disk, folder or archive to clean..."));
    }
    if (panel.runModal() != OpenPanel::OKResponse)
        return;
    XEngine::cleanInResponseToUserRequest(panel.URLs(), shiftWasDown);
}

void MainUIController::setupLite()
{
    m_isAppStoreVersion = true;
    savePreferences();
    m_showStatusMenuButton->hide();
    setupLiteSwift();
}

void MainUIController::setupLiteSwift()
{
    auto *menu = new QMenu(QStringLiteral("gear"), m_window);
    menu->setObjectName(QStringLiteral("gearMenu"));
    // The pop-up button's face: the button shows its image, the menu no row for it.
    QAction *face = menu->addAction(QString());
    face->setIcon(QIcon::fromTheme(QStringLiteral("preferences-system"),
                                   m_window->style()->standardIcon(QStyle::SP_FileDialogDetailedView)));
    face->setVisible(false);
    QAction *advanced =
        menu->addAction(QStringLiteral("Advanced..."), this, [this] { advancedWindowController()->show(); });
    advanced->setObjectName(QStringLiteral("advancedMenuItem"));
    QAction *showLog = menu->addAction(QStringLiteral("Show Log"));
    showLog->setObjectName(QStringLiteral("showLogMenuItem"));
    if (AppDelegate *delegate = AppDelegate::shared())
        connect(showLog, &QAction::triggered, delegate, &AppDelegate::showLogUserAction);
    menu->addSeparator();
    QAction *showInDock = menu->addAction(QStringLiteral("Show In Dock"), this, &MainUIController::showInDockUserAction);
    showInDock->setProperty("tag", showInDockMenuItemTag);
    QAction *openAtLoginItem = menu->addAction(QStringLiteral("Open At Login"), this, &MainUIController::openAtLogin);
    openAtLoginItem->setProperty("tag", openAtLoginMenuItemTag);
    menu->addAction(QStringLiteral("Quit Tarnwick"), this, &MainUIController::quitAction);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        for (QAction *item : menu->actions())
            if (!item->isSeparator() && item->isVisible())
                validateMenuItem(item);
    });
    m_gearPopupMenuButton->setIcon(face->icon());
    m_gearPopupMenuButton->setMenu(menu);
    m_gearMenu = menu;
}

void MainUIController::showMojaveSpotlightAdvice()
{
    const std::optional<QVersionNumber> version = SystemVersion::macOSVersion();
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (!version || *version < QVersionNumber(10, 14) || defaults.boolForKey(spotlightAdviceKey))
        return;
    Alert alert;
    alert.setStyle(Alert::Style::critical);
    alert.setShowsSuppressionButton(true);
    alert.addButton("OK");
    alert.addButton("Show Full Disk Access Settings");
    alert.setMessageText("Tarnwick requires full disk access to delete .Spotlight-V100 and .Trashes folders.");
    alert.setInformativeText(
        "\nTo grant full disk access in System Preferences - Security & Privacy:\n\n"
        "After clicking \"Show Full Disk Access Settings\" below, click the padlock to make changes then click + to "
        "add Tarnwick to the allowed apps (if required) and ensure Tarnwick is checked.\n");
    if (alert.runModal() == Alert::firstButtonReturn + 1)
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(fullDiskAccessSettingsURL)));
    if (alert.suppressionButtonChecked())
        defaults.setObject(Value(true), spotlightAdviceKey);
}
