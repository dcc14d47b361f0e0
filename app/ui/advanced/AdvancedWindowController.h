#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ArrayController.h"
#include "XFSDiskOrDirectory.h"

namespace Ui
{
class AdvancedWindowController;
}

class AdvancedWindowDelegate;
class QAction;
class QDialog;
class QMimeData;
class QStackedWidget;
class QTableView;
class QWidget;

// The Advanced sheet: the settings that hold for every disk and folder at once. The white
// list (folders never cleaned) goes into the general preferences, the black list (extra names
// to delete) into every record of the store; the never-delete types and extensions and the
// detailed-logging switch are user defaults written at once. The sheet is window-modal on the
// main window it was made for; however it ends, endSheet() saves the two lists. Main thread.
class AdvancedWindowController : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *newBlackListItemName = "examplefile.name";

    explicit AdvancedWindowController(QWidget *mainWindow);
    ~AdvancedWindowController() override;

    // Not owned; the main window sets itself.
    void setDelegate(AdvancedWindowDelegate *delegate) { m_delegate = delegate; }
    AdvancedWindowDelegate *delegate() const { return m_delegate; }

    QDialog *window() const;
    ArrayController *blacklistController() const { return m_blacklistController; }
    ArrayController *whitelistFolders() const { return m_whitelistFolders; }
    ArrayController *tabTableController() const { return m_tabTableController; }
    QStackedWidget *tabView() const;
    QWidget *advancedSpotlightContainerView() const;
    ArrayController *advancedSpotlightArrayController() const { return m_advancedSpotlightArrayController; }
    bool haveShownDisableSpotlightSpeedWarning() const { return m_haveShownDisableSpotlightSpeedWarning; }
    QTableView *blackListTable() const;

    // Opens the sheet; a name that is not empty becomes a new black-list row, shown on its page.
    void showWithNewBlackListItem(const std::string &name);
    // Drops the black-list rows without a name; answers false.
    bool validateBlackListItems();
    void endSheet();
    void saveBlacklist();
    void setupSwift(const std::string &name);

    void setupToolbar();
    std::vector<QString> toolbarSelectableItemIdentifiers() const;

    // The drag carries a URL of an item that is known not to be a volume.
    static bool isValidItemForBlackList(const QMimeData *drag);
    Qt::DropAction tableViewValidateDrop(const QMimeData *drag) const;
    bool tableViewAcceptDrop(const QMimeData *drag);
    // Appends the name unless a row of that exact name exists.
    void addNewBlackListItem(const std::string &name);

    // The white-list pattern that protects exactly this folder and what it holds: the path's
    // pattern characters are escaped in the bracket form, then "/*" follows.
    static std::string whiteListPattern(const std::string &folder);

    // The record the user added for exactly this folder on the disk now there; none when the
    // folder has no settings of its own.
    static std::optional<XFSDiskOrDirectory> recordOfFolder(const std::string &folder);
    // The folder a black-list name is for: the path of the one user record that switches it on,
    // when no other record does; none otherwise.
    static std::optional<std::string> folderSwitchingOn(const std::string &uniqueKey);

public slots:
    void show();
    void doneAdvanced();
    void toolbarItemSelected(QAction *item);
    void toggleDetailedLogging();
    void addWhitelistFolder();
    void addBlacklistItem();
    void addBlacklistItemForDisk();
    void chooseMacOSTypeToAdd();
    void chooseExtensionToAdd();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectControls();
    void showBoundValues();
    void editSelectedBlackListRow();
    // Appends the row, selects it and starts editing its name.
    void addBlackListRowToEdit(Dictionary row);
    void removeSelectedRows(QTableView *table, ArrayController *controller);
    void storeNeverDeleteField(const char *key, const QString &text);
    // Switches on, in the chosen folder's record only, the names of rows added for a folder.
    void switchOnNamesAddedForFolders();
    // The row's string under the key; nullptr when the row is no dictionary or holds no string there.
    static const std::string *stringEntry(const Value &row, const char *key);

    std::unique_ptr<Ui::AdvancedWindowController> m_ui;
    QPointer<QWidget> m_mainWindow;
    QDialog *m_window;
    ArrayController *m_blacklistController = nullptr;
    ArrayController *m_whitelistFolders = nullptr;
    ArrayController *m_tabTableController = nullptr;
    ArrayController *m_advancedSpotlightArrayController = nullptr;
    bool m_haveShownDisableSpotlightSpeedWarning = false;
    AdvancedWindowDelegate *m_delegate = nullptr;
};
