#include "MainUIController.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QTextEdit>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeView>

#include "ui_HelpPanel.h"
#include "ui_MainWindow.h"
#include "ui_ScheduleView.h"
#include "ApplicationInfo.h"
#include "LaunchFlags.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "UserDefaults.h"

namespace
{
// The outlet of that object name and type inside the root, or nullptr.
template <typename T>
T *outlet(const QObject *root, const char *name)
{
    if (!root)
        return nullptr;
    if (root->objectName() == QLatin1String(name))
        if (auto *self = qobject_cast<T *>(const_cast<QObject *>(root)))
            return self;
    return root->findChild<T *>(QLatin1String(name));
}
}

MainUIController *MainUIController::s_sharedInstance = nullptr;

MainUIController::MainUIController() = default;

MainUIController *MainUIController::sharedInstance()
{
    if (!s_sharedInstance)
        SystemLog::write("(MyController*)sharedInstance myController == nil");
    return s_sharedInstance;
}

MainUIController *MainUIController::loadFromInterfaceFile()
{
    auto *controller = new MainUIController;
    controller->loadInterfaceFiles();
    controller->awakeFromNib();
    return controller;
}

bool MainUIController::isOSTenTenOrLater()
{
    return true;
}

std::int64_t MainUIController::buildNumber()
{
    return PreferencesSupport::standardUserDefaults().integerForKey("build");
}

void MainUIController::checkIfNewInstall()
{
    LaunchFlags::newVersionInstall = false;
    const std::int64_t stored = buildNumber();
    if (stored == 0)
        LaunchFlags::newInstall = true;
    const std::int64_t bundle = Application::bundleVersion();
    if (stored == bundle)
        return;
    PreferencesSupport::standardUserDefaults().setObject(Value(static_cast<long long>(bundle)), "build");
    LaunchFlags::newVersionInstall = true;
    SystemLog::write("New version installed!");
}

void MainUIController::loadInterfaceFiles()
{
    m_window = new QMainWindow;
    Ui::MainWindow mainWindow;
    mainWindow.setupUi(m_window);

    m_scheduleView = new QWidget;
    Ui::ScheduleView scheduleView;
    scheduleView.setupUi(m_scheduleView);

    m_helpSheet = new QDialog(m_window);
    Ui::HelpPanel helpPanel;
    helpPanel.setupUi(m_helpSheet);

    m_detailsAndOptionsContainerView = outlet<QWidget>(m_window, "detailsAndOptionsContainerView");
    m_scheduleOptionsContainerView = outlet<QWidget>(m_window, "scheduleOptionsContainerView");
    m_scheduleOptionsDatePicker = outlet<QTimeEdit>(m_scheduleView, "scheduleOptionsDatePicker");
    m_scheduleHelpText = outlet<QTextEdit>(m_scheduleView, "scheduleHelpText");
    m_gearMenu = outlet<QMenu>(m_window, "gearMenu");
    m_helpButton = outlet<QAbstractButton>(m_window, "helpButton");
    m_showStatusMenuButton = outlet<QAbstractButton>(m_window, "showStatusMenuButton");
    m_divderLineBetweenContentAndOnOffButton = outlet<QFrame>(m_window, "divderLineBetweenContentAndOnOffButton");
    m_openAtLoginMenuItem = outlet<QAction>(m_window, "openAtLoginMenuItem");
    m_scheduleOptionsEnabledCheckbox = outlet<QAbstractButton>(m_scheduleView, "scheduleOptionsEnabledCheckbox");
    m_detailsTableContainer = outlet<QWidget>(m_window, "detailsTableContainer");
    m_statusTextLabel = outlet<QLabel>(m_window, "statusTextLabel");
    m_helpText = outlet<QTextEdit>(m_helpSheet, "helpText");
    m_automaticallyCheckForUpdatesItem = outlet<QAction>(m_window, "automaticallyCheckForUpdatesItem");
    m_helpDetailsContainer = outlet<QWidget>(m_helpSheet, "helpDetailsContainer");
    m_sourceTable = outlet<QTreeView>(m_window, "sourceTable");
    m_textForDontCleanRadioCaption = outlet<QLabel>(m_window, "textForDontCleanRadioCaption");
    m_textForAskRadioCaption = outlet<QLabel>(m_window, "textForAskRadioCaption");
    m_textForCleanRadioCaption = outlet<QLabel>(m_window, "textForCleanRadioCaption");
    m_modeSwitchRadioGroup = outlet<QButtonGroup>(m_window, "modeSwitchRadioGroup");
    m_gearPopupMenuButton = outlet<QToolButton>(m_window, "gearPopupMenuButton");
    m_detailsTable = outlet<QTreeView>(m_window, "detailsTable");
    m_statusItems = outlet<QMenu>(m_window, "statusItems");
    m_helpAppName = outlet<QLabel>(m_helpSheet, "helpAppName");
    m_helpVersion = outlet<QLabel>(m_helpSheet, "helpVersion");
    m_helpCopyright = outlet<QLabel>(m_helpSheet, "helpCopyright");
}
