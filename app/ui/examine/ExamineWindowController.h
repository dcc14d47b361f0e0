#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Node.h"
#include "URL.h"

class NodeListModel;
class QLabel;
class QTreeView;
class QWidget;

// The Examine window: shows, without deleting anything, the metadata files and folders in a
// chosen folder and one level below it, and the extended attributes of the folder's items.
// The scan runs on the framework's serial background queue. Each examination has a window of
// its own; the controller keeps itself alive (GlobalOwner) until its window closes.
class ExamineWindowController : public QObject, public std::enable_shared_from_this<ExamineWindowController>
{
    Q_OBJECT

public:
    // One row: what the row shows and the name of the folder holding the item (empty for an
    // attribute row).
    struct FoundItem
    {
        std::string name;
        std::string parent;

        bool operator==(const FoundItem &) const = default;
    };

    static constexpr const char *afpWarningText =
        "This disk is connected via afp. If you wish to remove \".AppleDouble\" folders, you will need to connect to "
        "the disk using smb and the server needs to be configured to not hide \".AppleDouble\" folders from clients.";
    // Every disk in one of the platform's own formats gets this warning, Linux formats included.
    static constexpr const char *appleFSWarningText =
        "This disk is formatted as APFS, HFS or a Linux format. If you wish to remove xattr metadata, you will need "
        "to choose \"Clean Attributes...\" from the Tarnwick menu in the system tray.";

    // The controller with its window loaded from the interface file, not shown yet.
    static std::shared_ptr<ExamineWindowController> create();
    ~ExamineWindowController() override;

    QWidget *window() const { return m_window; }
    NodeListModel *dataController() const { return m_dataController; }

    // Asks for a folder and, when one is chosen, keeps the controller alive and examines it.
    void askUser();
    // A modal panel for one folder; nullopt when the user cancels.
    std::optional<URL> pickDirectory();
    // Starts the scan on the serial background queue and returns at once; the results (or the
    // empty-result alert) follow on the main thread.
    void showResults(const URL &url);
    void showAFPWarning(bool show);
    void showAppleFSWarning(bool show);
    void windowWillClose();

    // The metadata items of the folder and of the folders below it down to maxDepth levels:
    // the folder's own items first (files, then folders), deeper results after them.
    static std::vector<FoundItem> examineDirectory(const URL &url, int maxDepth, int depth);
    // Each item of the folder that has extended attributes, followed by one row per attribute.
    static std::vector<FoundItem> examineDirectoryForAttrs(const URL &url);

    // The folder as the description names it: its localized name, or "<name> on <localized name>"
    // when the two differ (a volume's root with a label).
    static QString displayName(const QString &name, const QString &localizedName);
    static QString descriptionText(const QString &displayName, const QString &kind);
    static QString emptyResultMessage(const QString &folderName);
    static constexpr const char *emptyResultInformativeText =
        "The disk may have already been cleaned by Tarnwick or some items are inaccessible.";

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ExamineWindowController();
    void showWarning(bool show, const char *text);
    void displayResults(const URL &url, Node::Children nodes);
    static std::vector<FoundItem> examineDirectory(const URL &url, int maxDepth, int depth,
                                                   const std::vector<std::string> &optionNames);
    static std::vector<std::string> defaultItemNames();

    // Owned: it goes with the controller.
    QWidget *m_window = nullptr;
    // The interface file's outlets.
    QWidget *m_tableContainer = nullptr;
    QTreeView *m_table = nullptr;
    NodeListModel *m_dataController = nullptr;
    QLabel *m_aboveTableDescription = nullptr;
    QWidget *m_afpWarning = nullptr;
    QLabel *m_warningText = nullptr;
};

// The "Examine" menu command: asks for a folder and shows what Examine finds in it. Main thread.
void examineUserAction();
