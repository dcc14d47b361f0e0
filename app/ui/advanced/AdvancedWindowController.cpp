#include "AdvancedWindowController.h"

#include <QActionGroup>
#include <QDialog>
#include <QHeaderView>
#include <QToolBar>

#include "ui_AdvancedWindowController.h"
#include "AdvancedWindowDelegate.h"
#include "Md5.h"
#include "NotificationCenter.h"
#include "PreferencesSupport.h"
#include "TWVolumeInfo.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "XTWStore.h"

namespace
{
ArrayController *makeController(std::vector<ArrayController::Column> columns, const char *name, QObject *parent)
{
    auto *controller = new ArrayController(std::move(columns), parent);
    controller->setObjectName(QString::fromLatin1(name));
    return controller;
}
}

const std::string *AdvancedWindowController::stringEntry(const Value &row, const char *key)
{
    const Dictionary *dictionary = row.asDictionary();
    if (!dictionary)
        return nullptr;
    const auto found = dictionary->find(key);
    return found == dictionary->end() ? nullptr : found->second.asString();
}

AdvancedWindowController::AdvancedWindowController(QWidget *mainWindow)
    : QObject(mainWindow)
    , m_ui(std::make_unique<Ui::AdvancedWindowController>())
    , m_mainWindow(mainWindow)
    , m_window(new QDialog(mainWindow))
{
    setObjectName(QStringLiteral("advancedWindowController"));
    m_ui->setupUi(m_window);
    // A sheet: it blocks only the window it belongs to, and closing it never ends the application.
    m_window->setWindowModality(Qt::WindowModal);
    m_window->setAttribute(Qt::WA_QuitOnClose, false);

    // A row added for a chosen folder shows that folder beside its name.
    m_blacklistController = makeController(
        {{"name", QStringLiteral("Name"), true}, {"path", QStringLiteral("Folder"), false}}, "blacklistController", this);
    m_whitelistFolders = makeController({{"path", QStringLiteral("Folder"), false}}, "whitelistFolders", this);
    m_tabTableController = makeController({}, "tabTableController", this);
    m_advancedSpotlightArrayController = makeController({}, "advancedSpotlightArrayController", this);
    m_ui->blackListTable->setModel(m_blacklistController);
    m_ui->blackListTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_ui->whiteListTable->setModel(m_whitelistFolders);

    auto *pages = new QActionGroup(m_window);
    for (QAction *item : m_ui->toolbar->actions())
        pages->addAction(item);
    m_ui->blackListTable->viewport()->installEventFilter(this);
    connectControls();
}

AdvancedWindowController::~AdvancedWindowController()
{
    // With a main window, the sheet goes with it.
    if (!m_mainWindow)
        delete m_window;
}

QDialog *AdvancedWindowController::window() const
{
    return m_window;
}

QStackedWidget *AdvancedWindowController::tabView() const
{
    return m_ui->tabView;
}

QWidget *AdvancedWindowController::advancedSpotlightContainerView() const
{
    return m_ui->advancedSpotlightContainerView;
}

QTableView *AdvancedWindowController::blackListTable() const
{
    return m_ui->blackListTable;
}

void AdvancedWindowController::connectControls()
{
    connect(m_window, &QDialog::finished, this, &AdvancedWindowController::endSheet);
    connect(m_ui->toolbar, &QToolBar::actionTriggered, this, &AdvancedWindowController::toolbarItemSelected);
    connect(m_ui->doneButton, &QPushButton::clicked, this, &AdvancedWindowController::doneAdvanced);
    connect(m_ui->addWhitelistFolderButton, &QPushButton::clicked, this, &AdvancedWindowController::addWhitelistFolder);
    connect(m_ui->removeWhitelistFolderButton, &QPushButton::clicked, this,
            [this] { removeSelectedRows(m_ui->whiteListTable, m_whitelistFolders); });
    connect(m_ui->addBlacklistItemButton, &QPushButton::clicked, this, &AdvancedWindowController::addBlacklistItem);
    connect(m_ui->addBlacklistItemForDiskButton, &QPushButton::clicked, this,
            &AdvancedWindowController::addBlacklistItemForDisk);
    connect(m_ui->removeBlacklistItemButton, &QPushButton::clicked, this,
            [this] { removeSelectedRows(m_ui->blackListTable, m_blacklistController); });
    connect(m_ui->chooseMacOSTypeToAddButton, &QPushButton::clicked, this,
            &AdvancedWindowController::chooseMacOSTypeToAdd);
    connect(m_ui->chooseExtensionToAddButton, &QPushButton::clicked, this,
            &AdvancedWindowController::chooseExtensionToAdd);
    // The check box and the two fields show and write their user defaults directly.
    connect(m_ui->detailedLoggingCheckbox, &QCheckBox::clicked, this, [this](bool checked) {
        PreferencesSupport::standardUserDefaults().setObject(Value(checked), "detailedLogging");
        toggleDetailedLogging();
    });
    connect(m_ui->neverDeleteMacOSTypesField, &QLineEdit::editingFinished, this,
            [this] { storeNeverDeleteField("neverDeleteMacOSTypes", m_ui->neverDeleteMacOSTypesField->text()); });
    connect(m_ui->neverDeleteFileExtensionsField, &QLineEdit::editingFinished, this, [this] {
        storeNeverDeleteField("neverDeleteFileExtensions", m_ui->neverDeleteFileExtensionsField->text());
    });
}

void AdvancedWindowController::show()
{
    showWithNewBlackListItem("");
}

void AdvancedWindowController::showWithNewBlackListItem(const std::string &name)
{
    if (m_delegate)
        m_delegate->storeAnyChangesToFlags();
    setupSwift(name);
    setupToolbar();
    const QList<QAction *> items = m_ui->toolbar->actions();
    if (!name.empty() && items.size() > 1) {
        toolbarItemSelected(items[1]);
        items[1]->setChecked(true);
    }
    showBoundValues();
    if (m_mainWindow)
        m_window->open();
}

void AdvancedWindowController::doneAdvanced()
{
    if (!validateBlackListItems())
        m_window->accept();
}

bool AdvancedWindowController::validateBlackListItems()
{
    Array named;
    for (const Value &row : m_blacklistController->content()) {
        if (stringEntry(row, "name"))
            named.push_back(row);
    }
    m_blacklistController->setContent(std::move(named));
    return false;
}

void AdvancedWindowController::setupSwift(const std::string &name)
{
    m_ui->blackListTable->setAcceptDrops(true);

    Array whiteList;
    for (const std::string &pattern : XTWStore::whiteList())
        whiteList.emplace_back(Dictionary{{"path", Value(pattern)}});
    m_whitelistFolders->setContent(std::move(whiteList));

    Array blackList;
    bool nameExists = false;
    for (const BlackListItem &entry : XTWStore::allBlackListItems()) {
        Dictionary row{{"name", Value(entry.name)}, {"uniqueKey", Value(entry.uniqueKey)}};
        // Only the name and its key are kept; the folder is where the name is switched on.
        if (const std::optional<std::string> folder = folderSwitchingOn(entry.uniqueKey))
            row["path"] = Value(*folder);
        blackList.emplace_back(std::move(row));
        nameExists = nameExists || entry.name == name;
    }
    if (!name.empty() && !nameExists)
        blackList.emplace_back(Dictionary{{"name", Value(name)}});
    m_blacklistController->setContent(std::move(blackList));
}

void AdvancedWindowController::endSheet()
{
    std::optional<Dictionary> preferences = TarnwickStore::generalPreferences();
    if (preferences)
        (*preferences)["whitelistFolders"] = Value(m_whitelistFolders->content());
    saveBlacklist();
    if (!preferences)
        return;
    TarnwickStore::updateGeneralPreferences(*preferences);
    if (m_delegate)
        m_delegate->setPreferencesContent(TarnwickStore::generalPreferences());
}

void AdvancedWindowController::saveBlacklist()
{
    std::vector<BlackListItem> items;
    for (const Value &row : m_blacklistController->content()) {
        const std::string *name = stringEntry(row, "name");
        if (!name)
            continue;
        const std::string *key = stringEntry(row, "uniqueKey");
        items.push_back(BlackListItem{key ? *key : md5(*name), *name});
    }

    XTWStore &store = XTWStore::shared();
    for (XFSDiskOrDirectory record : store.builtInDisksOrDirectories()) {
        record.update(items);
        store.update(record);
    }
    for (XFSDiskOrDirectory record : store.userSuppliedDisksOrDirectories()) {
        record.update(items);
        store.update(record);
    }
    switchOnNamesAddedForFolders();
    NotificationCenter::defaultCenter().post(TarnwickStore::detailsDidChangeNotification);
}

void AdvancedWindowController::switchOnNamesAddedForFolders()
{
    XTWStore &store = XTWStore::shared();
    for (const Value &row : m_blacklistController->content()) {
        const std::string *name = stringEntry(row, "name");
        const std::string *folder = stringEntry(row, "path");
        // A row with a key was loaded: its name is already where it stood.
        if (!name || !folder || stringEntry(row, "uniqueKey"))
            continue;
        std::optional<XFSDiskOrDirectory> record = recordOfFolder(*folder);
        if (!record)
            continue;
        for (const XFSDetailsFlagItem &item : record->detailsFlags()) {
            if (item.type() == XFSDetailsFlagItem::ItemType::blacklist && item.fsName() == *name) {
                record->updateFlags({item.withEnabled(true).withEditable(true)});
                store.update(*record);
                break;
            }
        }
    }
}

std::optional<XFSDiskOrDirectory> AdvancedWindowController::recordOfFolder(const std::string &folder)
{
    const std::string diskKey = TWKeyForDisk(folder);
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories()) {
        if (record.path() == folder && record.uniqueDiskKey() == diskKey)
            return record;
    }
    return std::nullopt;
}

std::optional<std::string> AdvancedWindowController::folderSwitchingOn(const std::string &uniqueKey)
{
    const auto switchesOn = [&uniqueKey](const XFSDiskOrDirectory &record) {
        const std::optional<XFSDetailsFlagItem> item = record.findFlag(uniqueKey);
        return item && item->type() == XFSDetailsFlagItem::ItemType::blacklist && item->enabled();
    };
    const XTWStore &store = XTWStore::shared();
    for (const XFSDiskOrDirectory &builtIn : store.builtInDisksOrDirectories()) {
        if (switchesOn(builtIn))
            return std::nullopt;
    }
    std::optional<std::string> folder;
    for (const XFSDiskOrDirectory &record : store.userSuppliedDisksOrDirectories()) {
        if (!switchesOn(record))
            continue;
        if (folder || record.path().empty())
            return std::nullopt;
        folder = record.path();
    }
    return folder;
}

void AdvancedWindowController::showBoundValues()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    m_ui->detailedLoggingCheckbox->setChecked(defaults.boolForKey("detailedLogging"));
    m_ui->neverDeleteMacOSTypesField->setText(
        QString::fromStdString(defaults.stringForKey("neverDeleteMacOSTypes").value_or("")));
    m_ui->neverDeleteFileExtensionsField->setText(
        QString::fromStdString(defaults.stringForKey("neverDeleteFileExtensions").value_or("")));
}

void AdvancedWindowController::removeSelectedRows(QTableView *table, ArrayController *controller)
{
    std::vector<int> rows;
    for (const QModelIndex &index : table->selectionModel()->selectedRows())
        rows.push_back(index.row());
    controller->removeObjectsAtIndexes(std::move(rows));
}
