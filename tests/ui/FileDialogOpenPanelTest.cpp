#include "FileDialogOpenPanel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

#include "SelectStartupDisk.h"
#include "TestSupport.h"

namespace
{
// Acts on the file dialog once it shows; the dialog stays open until an action closes it.
void whenTheDialogShows(std::function<void(QFileDialog &)> act)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(*dialog);
        }
    });
    timer->start(10);
}

OpenPanel startupDiskPanel(SelectStartupDisk &delegate)
{
    OpenPanel panel;
    panel.setDelegate(&delegate);
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(false);
    panel.setDirectoryURL(URL::fileURLWithPath(QDir::homePath().toStdString()));
    panel.setPrompt("Choose");
    panel.setTitle("Choose your startup disk.");
    return panel;
}
}

TEST(FileDialogOpenPanelTest, OnlyWhatTheDelegateValidatesCanBeConfirmed)
{
    SelectStartupDisk delegate;
    OpenPanel panel = startupDiskPanel(delegate);
    bool stayedOpenOnHome = false;
    whenTheDialogShows([&stayedOpenOnHome](QFileDialog &dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Choose your startup disk.");
        EXPECT_EQ(dialog.labelText(QFileDialog::Accept), "Choose");
        EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(dialog.sidebarUrls().contains(QUrl::fromLocalFile("/")));
        static_cast<QDialog &>(dialog).accept(); // the home folder it starts in
        stayedOpenOnHome = dialog.isVisible();
        dialog.setDirectory("/");
        static_cast<QDialog &>(dialog).accept();
    });
    FileDialogOpenPanel presenter;
    ASSERT_EQ(presenter.present(panel), OpenPanel::OKResponse);
    EXPECT_TRUE(stayedOpenOnHome) << "the home folder cannot be confirmed";
    ASSERT_EQ(panel.URLs().size(), 1u);
    EXPECT_EQ(panel.URLs().front().path(), "/");
}

TEST(FileDialogOpenPanelTest, ClosingTheDialogCancels)
{
    SelectStartupDisk delegate;
    OpenPanel panel = startupDiskPanel(delegate);
    whenTheDialogShows([](QFileDialog &dialog) { dialog.reject(); });
    FileDialogOpenPanel::install();
    EXPECT_EQ(panel.runModal(), OpenPanel::cancelResponse);
    EXPECT_TRUE(panel.URLs().empty());
    OpenPanel::setPresenter(nullptr);
}

TEST(FileDialogOpenPanelTest, SeveralFoldersOrFilesCanBeChosenWhenThePanelAllowsIt)
{
    TemporaryDirectory home;
    for (const char *name : {"one", "two"})
        QDir().mkpath(QString::fromStdString(home.file(name)));
    OpenPanel folders;
    folders.setCanChooseDirectories(true);
    folders.setCanChooseFiles(false);
    folders.setAllowsMultipleSelection(true);
    folders.setDirectoryURL(URL::fileURLWithPath(home.path()));
    // The folder's listing arrives in the background; both rows are selected once it has.
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        auto *list = dialog ? dialog->findChild<QAbstractItemView *>(QStringLiteral("listView")) : nullptr;
        if (!list || list->model()->rowCount(list->rootIndex()) < 2)
            return;
        timer->stop();
        timer->deleteLater();
        EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        for (int row = 0; row < 2; ++row)
            list->selectionModel()->select(list->model()->index(row, 0, list->rootIndex()),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        static_cast<QDialog *>(dialog)->accept();
    });
    timer->start(10);
    FileDialogOpenPanel presenter;
    ASSERT_EQ(presenter.present(folders), OpenPanel::OKResponse);
    std::vector<std::string> chosen;
    for (const URL &url : folders.URLs())
        chosen.push_back(url.path());
    std::sort(chosen.begin(), chosen.end());
    EXPECT_EQ(chosen, (std::vector<std::string>{home.file("one"), home.file("two")}));

    OpenPanel files;
    files.setAllowsMultipleSelection(true);
    whenTheDialogShows([](QFileDialog &dialog) {
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
        dialog.reject();
    });
    EXPECT_EQ(presenter.present(files), OpenPanel::cancelResponse);
}
