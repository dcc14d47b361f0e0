#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include "FileDialogOpenPanel.h"
#include "FileDialogScript.h"
#include "MainWindowFixture.h"
#include "PreferencesSupport.h"
#include "Screenshot.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "XTWStore.h"

TEST_F(MainWindowTest, CleanInTheRealFileDialogChoosesAFolderAndCleansIt)
{
    const std::string folder = makeFolder("Holiday Photos");
    writeFile(folder + "/.DS_Store", "Bud1");
    writeFile(folder + "/beach.jpg", "mine");
    FileDialogOpenPanel::install();
    const QString parent = QString::fromStdString(env->homeFile(""));
    scriptFileDialog({
        {[](QFileDialog &) { return true; }, [&parent](QFileDialog &dialog) { dialog.setDirectory(parent); }},
        {[](QFileDialog &dialog) { return rowNamed(dialog, "Holiday Photos").isValid(); },
         [](QFileDialog &dialog) { selectRow(dialog, rowNamed(dialog, "Holiday Photos")); }},
        {[](QFileDialog &dialog) {
             const auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
             return name && name->text() == QLatin1String("Holiday Photos");
         },
         [](QFileDialog &dialog) {
             EXPECT_EQ(dialog.windowTitle(), "Pick a disk, folder or archive to clean...");
             EXPECT_EQ(FileDialogOpenPanel::acceptButton(dialog)->text(), "Choose");
             EXPECT_FALSE(saveScreenshot(&dialog, "clean-command-folder-chosen").empty());
             QTest::mouseClick(FileDialogOpenPanel::acceptButton(dialog), Qt::LeftButton);
         }},
    });
    action("cleanUsingTarnwickItem")->trigger();

    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(folder + "/.DS_Store"); }, std::chrono::seconds(30)))
        << "the chosen folder is cleaned";
    EXPECT_TRUE(fileExists(folder + "/beach.jpg"));
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String("Progress") && window->isVisible())
            window->close();
}

namespace
{
// The shown folder's rows of that name, top to bottom.
std::vector<QModelIndex> rowsNamed(QFileDialog &dialog, const QString &name)
{
    std::vector<QModelIndex> rows;
    QAbstractItemView *list = fileList(dialog);
    for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
        const QModelIndex index = list->model()->index(row, 0, list->rootIndex());
        if (index.data().toString() == name)
            rows.push_back(index);
    }
    return rows;
}

// In the real dialog, from the folder given: the second row shown as "caf" and a U+FFFD (the
// Latin-1 folder, listed after the folder whose UTF-8 name looks the same), chosen by the button.
std::vector<FileDialogStep> chooseSecondCaf(const QString &folder, const std::string &screenshot)
{
    const QString shown = QStringLiteral("caf\uFFFD");
    return {
        {[](QFileDialog &) { return true; }, [folder](QFileDialog &dialog) { dialog.setDirectory(folder); }},
        {[shown](QFileDialog &dialog) { return rowsNamed(dialog, shown).size() == 2; },
         [shown](QFileDialog &dialog) { selectRow(dialog, rowsNamed(dialog, shown).back()); }},
        {[](QFileDialog &dialog) { return FileDialogOpenPanel::acceptButton(dialog)->isEnabled(); },
         [screenshot](QFileDialog &dialog) {
             EXPECT_FALSE(saveScreenshot(&dialog, screenshot).empty());
             QTest::mouseClick(FileDialogOpenPanel::acceptButton(dialog), Qt::LeftButton);
         }},
    };
}
}

TEST_F(MainWindowTest, AFolderWhoseNameIsNotUtf8IsCleanedAndAddedAsItselfFromTheRealFileDialog)
{
    const std::string latin1 = makeFolder("caf\xe9");
    const std::string lookalike = makeFolder("caf\xef\xbf\xbd");
    for (const std::string &folder : {latin1, lookalike})
        writeFile(folder + "/.DS_Store", "Bud1");
    FileDialogOpenPanel::install();
    const QString parent = QString::fromStdString(env->homeFile(""));

    PreferencesSupport::standardUserDefaults().setObject(Value(true), "HFSWarning");
    scriptFileDialog(chooseSecondCaf(parent, "add-folder-not-utf8-chosen"));
    outlet<QAbstractButton>("addFolderButton")->click();
    std::vector<std::string> paths;
    for (const XFSDiskOrDirectory &record : XTWStore::shared().userSuppliedDisksOrDirectories())
        paths.push_back(record.path());
    EXPECT_EQ(paths, std::vector<std::string>{latin1}) << "the folder is added as itself";

    scriptFileDialog(chooseSecondCaf(parent, "clean-command-folder-not-utf8-chosen"));
    action("cleanUsingTarnwickItem")->trigger();
    EXPECT_TRUE(runEventLoopUntil([&] { return !fileExists(latin1 + "/.DS_Store"); }, std::chrono::seconds(30)))
        << "the chosen folder is cleaned";
    EXPECT_TRUE(fileExists(lookalike + "/.DS_Store")) << "the folder that only looks like it is left alone";
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String("Progress") && window->isVisible())
            window->close();
    OpenPanel::setPresenter(panels);
}
