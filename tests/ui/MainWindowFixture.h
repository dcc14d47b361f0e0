#pragma once

#include <QObject>
#include <QString>

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "Alert.h"
#include "OpenPanel.h"
#include "StoreTestEnvironment.h"

class MainUIController;
class QAction;
class QTreeView;
class QWidget;

// Stands in for the alert: records each alert and answers with a button, ticking its
// suppression box when told.
class ScriptedAlerts : public AlertPresenter
{
public:
    struct Shown
    {
        std::string messageText;
        std::string informativeText;
        Alert::Style style;
        std::vector<std::string> buttons;
        bool showsSuppressionButton;
    };

    std::size_t present(Alert &alert) override;

    std::vector<Shown> shown;
    std::size_t answer = 0;
    bool tickSuppression = false;
};

// Stands in for the open panel: records each panel and chooses the given URLs (cancels without).
class ScriptedOpenPanels : public OpenPanelPresenter
{
public:
    std::int64_t present(OpenPanel &panel) override;

    std::vector<std::string> titles;
    std::vector<std::string> prompts;
    std::vector<bool> canChooseFiles;
    std::vector<OpenPanel *> panels;
    std::vector<URL> choose;
    // Each panel's answer to "may this item be picked?" for every path probed.
    std::vector<std::string> probes;
    std::vector<std::vector<bool>> probeAnswers;
};

// The real main window on the store's pretend machine. The process has one controller (it lives
// until the process ends, as in the application); each test starts it afresh on a new store file.
class MainWindowTest : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    static MainUIController &controller();

    // The window's object of that name and type; fails the test when there is none.
    template <typename T>
    T *outlet(const char *name) const
    {
        T *found = qobject_cast<T *>(findOutlet(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QObject *findOutlet(const char *name) const;
    QTreeView *sourceTable() const;
    QTreeView *detailsTable() const;
    QAction *action(const char *name) const;

    // The titles of the source list's rows, top to bottom.
    std::vector<QString> sourceTitles() const;
    int rowOfTitle(const QString &title) const;
    void selectSourceRow(int row);
    void selectSourceTitle(const QString &title);
    // The details checklist's rows: group title, then its leaves.
    std::vector<QString> leafTitles(int group) const;
    bool isGroupExpanded(int group) const;

    // A new folder inside the temporary home.
    std::string makeFolder(const std::string &name) const;
    // Adds a folder to the store as the user would, without the Mac-disk warning.
    void addFolderQuietly(const std::string &path);

    // Sends a real drag of the path over the outline and drops it; true when the view took it.
    bool drop(QTreeView *outline, const std::string &path);

    std::unique_ptr<StoreTestEnvironment> env;
    std::shared_ptr<ScriptedAlerts> alerts = std::make_shared<ScriptedAlerts>();
    std::shared_ptr<ScriptedOpenPanels> panels = std::make_shared<ScriptedOpenPanels>();
};
