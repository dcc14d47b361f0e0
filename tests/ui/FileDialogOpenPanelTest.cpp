#include "FileDialogOpenPanel.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>

#include <functional>
#include <gtest/gtest.h>

#include "SelectStartupDisk.h"

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
