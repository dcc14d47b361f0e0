#include "AdvancedWindowController.h"

#include <QTableView>

#include "ui_AdvancedWindowController.h"
#include "Alert.h"
#include "Error.h"
#include "FinderInfo.h"
#include "LocalizedString.h"
#include "OpenPanel.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "UserDefaults.h"

namespace
{
OpenPanel documentsPanel()
{
    OpenPanel panel;
    panel.setCanChooseFiles(true);
    panel.setAllowsMultipleSelection(true);
    panel.setPrompt(LSFK("Choose"));
    panel.setTitle(LSFK("Pick a document"));
    return panel;
}

OpenPanel foldersPanel(const std::string &title, bool several)
{
    OpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(false);
    panel.setAllowsMultipleSelection(several);
    panel.setPrompt(LSFK("Choose"));
    panel.setTitle(LSFK(title));
    return panel;
}

// The text after the name's last dot, as the engine reads it; a leading dot starts no extension.
std::string pathExtension(const std::string &name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    return name.substr(dot + 1);
}

// Adds the entry to the comma-joined list stored under the key, unless the list already holds it
// anywhere (also inside a longer entry). False when the list could not be stored.
bool addToNeverDeleteList(const char *key, const std::string &entry)
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    std::string list = defaults.stringForKey(key).value_or("");
    if (list.find(entry) != std::string::npos)
        return true;
    if (!list.empty())
        list += ",";
    list += entry;
    try {
        defaults.setObject(Value(list), key);
    } catch (const Error &error) {
        SystemLog::write(std::string("Can't store ") + key + ": " + error.localizedDescription());
        return false;
    }
    return true;
}
}

void AdvancedWindowController::toggleDetailedLogging()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (defaults.boolForKey("detailedLogging")) {
        defaults.setObject(Value(Date::now()), "detailedLoggingFirstFired");
        SystemLog::write("** Detailed logging will automatically turn off after 12 hours. **");
    } else {
        defaults.removeObjectForKey("detailedLoggingFirstFired");
    }
}

std::string AdvancedWindowController::whiteListPattern(const std::string &folder)
{
    // The engine matches with backslash escapes off, so a pattern character stands for itself
    // only inside brackets.
    std::string pattern;
    for (const char character : folder) {
        if (character == '[' || character == '*' || character == '?')
            pattern += std::string("[") + character + "]";
        else
            pattern += character;
    }
    return pattern + "/*";
}

void AdvancedWindowController::addWhitelistFolder()
{
    OpenPanel panel = foldersPanel("Select a disk or folder", true);
    if (panel.runModal() != OpenPanel::OKResponse)
        return;
    for (const URL &url : panel.URLs()) {
        if (url.path() != "/")
            m_whitelistFolders->addObject(Dictionary{{"path", Value(whiteListPattern(url.path()))}});
    }
}

void AdvancedWindowController::addBlacklistItem()
{
    addBlackListRowToEdit(Dictionary{{"name", Value(newBlackListItemName)}});
}

void AdvancedWindowController::addBlackListRowToEdit(Dictionary row)
{
    m_ui->blackListTable->selectRow(m_blacklistController->addObject(std::move(row)));
    editSelectedBlackListRow();
}

void AdvancedWindowController::editSelectedBlackListRow()
{
    const QModelIndexList selected = m_ui->blackListTable->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    m_ui->blackListTable->edit(m_blacklistController->index(selected.front().row(), 0));
}

// The row notes the folder it is meant for. Its name reaches every disk and folder switched off,
// and is switched on in that folder's record when the sheet ends. A folder without a record of its
// own cannot take it: switching it on in the record that governs the folder would delete the name
// in more than the user chose.
void AdvancedWindowController::addBlacklistItemForDisk()
{
    OpenPanel panel = foldersPanel("Select a disk or folder for this blacklist item...", false);
    if (panel.runModal() != OpenPanel::OKResponse || panel.URLs().empty() || panel.URLs().front().path() == "/")
        return;
    const URL &folder = panel.URLs().front();
    if (!recordOfFolder(folder.path())) {
        Alert alert;
        alert.setStyle(Alert::Style::warning);
        std::string message = LSFK("\"%@\" is not in Tarnwick's list.");
        if (const std::size_t at = message.find("%@"); at != std::string::npos)
            message.replace(at, 2, folder.displayName());
        alert.setMessageText(message);
        alert.setInformativeText(LSFK("Add it to the list in Tarnwick's window first, then choose it here."));
        alert.addButton(LSFK("OK"));
        alert.runModal();
        return;
    }
    addBlackListRowToEdit(Dictionary{{"name", Value(newBlackListItemName)}, {"path", Value(folder.path())}});
}

void AdvancedWindowController::chooseMacOSTypeToAdd()
{
    OpenPanel panel = documentsPanel();
    if (panel.runModal() != OpenPanel::OKResponse)
        return;
    std::string missing;
    for (const URL &url : panel.URLs()) {
        const std::string type = NSHFSTypeOfFile(url.path()).value_or("");
        if (type.size() <= 3 || !addToNeverDeleteList("neverDeleteMacOSTypes", type)) {
            if (!missing.empty())
                missing += ", ";
            missing += url.lastPathComponent();
        }
    }
    showBoundValues();
    if (missing.empty())
        return;
    Alert alert;
    alert.setStyle(Alert::Style::critical);
    alert.addButton(LSFK("OK"));
    alert.setMessageText(LSFK("Sorry, missing type info."));
    std::string informative = LSFK("The following files don't have Classic macOS Types: %@");
    if (const std::size_t at = informative.find("%@"); at != std::string::npos)
        informative.replace(at, 2, missing);
    alert.setInformativeText(informative);
    alert.runModal();
}

void AdvancedWindowController::chooseExtensionToAdd()
{
    OpenPanel panel = documentsPanel();
    if (panel.runModal() != OpenPanel::OKResponse)
        return;
    for (const URL &url : panel.URLs()) {
        const std::string extension = pathExtension(url.lastPathComponent());
        if (!extension.empty())
            addToNeverDeleteList("neverDeleteFileExtensions", extension);
    }
    showBoundValues();
}

void AdvancedWindowController::storeNeverDeleteField(const char *key, const QString &text)
{
    PreferencesSupport::standardUserDefaults().setObject(Value(text.toStdString()), key);
}
