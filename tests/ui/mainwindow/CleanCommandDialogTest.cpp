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
#include "Screenshot.h"
#include "TestSupport.h"

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
