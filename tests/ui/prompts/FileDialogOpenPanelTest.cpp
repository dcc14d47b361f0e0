#include "FileDialogOpenPanel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include "FileDialogScript.h"
#include "Screenshot.h"
#include "SelectStartupDisk.h"
#include "TestSupport.h"

namespace
{
// Acts on the file dialog once it shows; the dialog stays open until an action closes it.
void whenTheDialogShows(std::function<void(QFileDialog &)> act)
{
    scriptFileDialog({{[](QFileDialog &) { return true; }, std::move(act)}});
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
    scriptFileDialog({{[](QFileDialog &dialog) { return listedNames(dialog).size() >= 2; },
                       [](QFileDialog &dialog) {
                           auto *list = dialog.findChild<QAbstractItemView *>(QStringLiteral("listView"));
                           EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
                           for (int row = 0; row < 2; ++row)
                               list->selectionModel()->select(list->model()->index(row, 0, list->rootIndex()),
                                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
                           static_cast<QDialog &>(dialog).accept();
                       }}});
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

namespace
{
// The clean command's panel: folders and the archive kinds it cleans.
OpenPanel foldersAndArchivesPanel(const std::string &folder)
{
    OpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(true);
    panel.setAllowedFileTypes({"zip", "tgz", "gz"});
    panel.setDirectoryURL(URL::fileURLWithPath(folder));
    panel.setPrompt("Choose");
    panel.setTitle("Pick a disk, folder or archive to clean...");
    return panel;
}

QLineEdit *nameField(QFileDialog &dialog)
{
    return dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
}
}

TEST(FileDialogOpenPanelTest, ASelectedFolderIsChosenByTheButtonAndTheFilterShowsWhatCanBeChosen)
{
    TemporaryDirectory home;
    QDir().mkpath(QString::fromStdString(home.file("Photos")));
    for (const char *name : {"photos.zip", "BACKUP.TGZ", "notes.txt"})
        writeFile(home.file(name), "data");
    OpenPanel panel = foldersAndArchivesPanel(home.path());
    scriptFileDialog({
        {[](QFileDialog &dialog) { return rowNamed(dialog, "Photos").isValid() && listedNames(dialog).size() >= 3; },
         [](QFileDialog &dialog) {
             EXPECT_EQ(dialog.nameFilters(), QStringList{"Folders and .zip, .tgz, .gz files (*.zip *.tgz *.gz)"});
             std::vector<std::string> names = listedNames(dialog);
             std::sort(names.begin(), names.end());
             EXPECT_EQ(names, (std::vector<std::string>{"BACKUP.TGZ", "Photos", "photos.zip"}))
                 << "the other files are not shown";
             selectRow(dialog, rowNamed(dialog, "Photos"));
         }},
        {[](QFileDialog &dialog) { return nameField(dialog)->text() == QLatin1String("Photos"); },
         [](QFileDialog &dialog) {
             QPushButton *choose = FileDialogOpenPanel::acceptButton(dialog);
             ASSERT_NE(choose, nullptr);
             EXPECT_EQ(choose->text(), "Choose") << "the button chooses the folder; it does not open it";
             EXPECT_TRUE(choose->isEnabled());
             EXPECT_FALSE(saveScreenshot(&dialog, "open-panel-folder-chosen").empty());
             QTest::mouseClick(choose, Qt::LeftButton);
         }},
    });
    FileDialogOpenPanel presenter;
    ASSERT_EQ(presenter.present(panel), OpenPanel::OKResponse);
    ASSERT_EQ(panel.URLs().size(), 1u);
    EXPECT_EQ(panel.URLs().front().path(), home.file("Photos"));
}

TEST(FileDialogOpenPanelTest, EnterOnATypedFolderChoosesItAndADoubleClickStillEntersAFolder)
{
    TemporaryDirectory home;
    QDir().mkpath(QString::fromStdString(home.file("Music/Albums")));
    QDir().mkpath(QString::fromStdString(home.file("Elsewhere/Stick")));
    writeFile(home.file("Music/mix.zip"), "data");
    writeFile(home.file("notes.txt"), "data");
    OpenPanel panel = foldersAndArchivesPanel(home.path());
    std::string enteredFolder;
    bool stayedOpenOnAText = false;
    scriptFileDialog({
        {[](QFileDialog &dialog) { return rowNamed(dialog, "Music").isValid(); },
         [](QFileDialog &dialog) {
             doubleClick(*fileList(dialog), rowNamed(dialog, "Music"));
         }},
        {[](QFileDialog &dialog) { return rowNamed(dialog, "mix.zip").isValid(); },
         [&](QFileDialog &dialog) {
             enteredFolder = dialog.directory().absolutePath().toStdString();
             // A file of another kind, typed, cannot be confirmed.
             nameField(dialog)->setText(QString::fromStdString(home.file("notes.txt")));
             QTest::keyClick(nameField(dialog), Qt::Key_Return);
             stayedOpenOnAText = dialog.isVisible();
             nameField(dialog)->setText(QString::fromStdString(home.file("Elsewhere/Stick")));
             QApplication::processEvents();
             EXPECT_EQ(FileDialogOpenPanel::acceptButton(dialog)->text(), "Choose");
             QTest::keyClick(nameField(dialog), Qt::Key_Return);
         }},
    });
    FileDialogOpenPanel presenter;
    ASSERT_EQ(presenter.present(panel), OpenPanel::OKResponse);
    EXPECT_EQ(enteredFolder, home.file("Music")) << "a double click enters the folder";
    EXPECT_TRUE(stayedOpenOnAText);
    ASSERT_EQ(panel.URLs().size(), 1u);
    EXPECT_EQ(panel.URLs().front().path(), home.file("Elsewhere/Stick"));
}

TEST(FileDialogOpenPanelTest, APanelForFilesAndFoldersShowsEveryFileAndStillTakesFiles)
{
    TemporaryDirectory home;
    QDir().mkpath(QString::fromStdString(home.file("Folder")));
    writeFile(home.file("notes.txt"), "data");
    OpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(true);
    panel.setDirectoryURL(URL::fileURLWithPath(home.path()));
    panel.setPrompt("Choose");
    scriptFileDialog({
        {[](QFileDialog &dialog) { return rowNamed(dialog, "notes.txt").isValid(); },
         [](QFileDialog &dialog) {
             EXPECT_EQ(dialog.nameFilters(), QStringList{"Files and folders (*)"});
             selectRow(dialog, rowNamed(dialog, "notes.txt"));
         }},
        {[](QFileDialog &dialog) { return nameField(dialog)->text() == QLatin1String("notes.txt"); },
         [](QFileDialog &dialog) { QTest::mouseClick(FileDialogOpenPanel::acceptButton(dialog), Qt::LeftButton); }},
    });
    FileDialogOpenPanel presenter;
    ASSERT_EQ(presenter.present(panel), OpenPanel::OKResponse);
    ASSERT_EQ(panel.URLs().size(), 1u);
    EXPECT_EQ(panel.URLs().front().path(), home.file("notes.txt"));
}

namespace
{
// The shown folder's rows of that name, top to bottom.
std::vector<QModelIndex> rowsNamed(QFileDialog &dialog, const QString &name)
{
    std::vector<QModelIndex> rows;
    QAbstractItemView *list = fileList(dialog);
    const QAbstractItemModel *model = list->model();
    for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
        const QModelIndex index = model->index(row, 0, list->rootIndex());
        if (index.data().toString() == name)
            rows.push_back(index);
    }
    return rows;
}

// What Qt shows for a name with one stray byte after "caf".
const QString shownCaf = QStringLiteral("caf\uFFFD");

OpenPanel foldersPanel(const std::string &folder)
{
    OpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(false);
    panel.setDirectoryURL(URL::fileURLWithPath(folder));
    panel.setPrompt("Choose");
    panel.setTitle("Pick a disk or folder");
    return panel;
}
}

TEST(FileDialogOpenPanelTest, AFolderWhoseNameIsNotUtf8IsListedAndChosenAsItsOwnBytes)
{
    // Named in Latin-1 (an old FAT disk, a share written in another encoding), beside a folder
    // whose UTF-8 name is what the first one shows as.
    TemporaryDirectory home;
    const std::string latin1 = home.file("caf\xe9");
    const std::string lookalike = home.file("caf\xef\xbf\xbd");
    for (const std::string &folder : {latin1, lookalike, home.file("Photos")})
        std::filesystem::create_directory(folder);
    writeFile(home.file("menu\xe9.txt"), "a file, which this panel does not take");
    std::string enteredAfterDoubleClick;
    OpenPanel panel = foldersPanel(home.path());
    scriptFileDialog({
        {[](QFileDialog &dialog) { return rowsNamed(dialog, shownCaf).size() == 2 && rowNamed(dialog, "Photos").isValid(); },
         [&](QFileDialog &dialog) {
             EXPECT_EQ(listedNames(dialog).size(), 3u) << "the file is not listed for a panel of folders";
             // The second of the two rows is the Latin-1 folder, listed after what Qt lists.
             const QModelIndex row = rowsNamed(dialog, shownCaf).back();
             selectRow(dialog, row);
             // It cannot be entered: a double click leaves the dialog where it is.
             doubleClick(*fileList(dialog), row);
             enteredAfterDoubleClick = dialog.directory().absolutePath().toStdString();
         }},
        {[](QFileDialog &dialog) {
             return nameField(dialog)->text() == shownCaf && FileDialogOpenPanel::acceptButton(dialog)->isEnabled();
         },
         [](QFileDialog &dialog) {
             // A re-sort moves the listed rows; the selection stays on the same folder.
             if (auto *tree = dialog.findChild<QTreeView *>(QStringLiteral("treeView")))
                 tree->sortByColumn(0, Qt::DescendingOrder);
             EXPECT_FALSE(saveScreenshot(&dialog, "open-panel-folder-not-utf8-selected").empty());
             QTest::mouseClick(FileDialogOpenPanel::acceptButton(dialog), Qt::LeftButton);
         }},
    });
    FileDialogOpenPanel presenter;
    ASSERT_EQ(presenter.present(panel), OpenPanel::OKResponse);
    EXPECT_EQ(enteredAfterDoubleClick, home.path());
    ASSERT_EQ(panel.URLs().size(), 1u);
    EXPECT_EQ(panel.URLs().front().path(), latin1) << "its bytes, not the look-alike's";

    // The look-alike, a name Qt lists, is chosen as itself; Enter on the Latin-1 row chooses it too.
    scriptFileDialog({
        {[](QFileDialog &dialog) { return rowsNamed(dialog, shownCaf).size() == 2; },
         [](QFileDialog &dialog) { selectRow(dialog, rowsNamed(dialog, shownCaf).front()); }},
        {[](QFileDialog &dialog) { return nameField(dialog)->text() == shownCaf; },
         [](QFileDialog &dialog) { QTest::mouseClick(FileDialogOpenPanel::acceptButton(dialog), Qt::LeftButton); }},
    });
    ASSERT_EQ(presenter.present(panel), OpenPanel::OKResponse);
    ASSERT_EQ(panel.URLs().size(), 1u);
    EXPECT_EQ(panel.URLs().front().path(), lookalike);

    scriptFileDialog({
        {[](QFileDialog &dialog) { return rowsNamed(dialog, shownCaf).size() == 2; },
         [](QFileDialog &dialog) {
             selectRow(dialog, rowsNamed(dialog, shownCaf).back());
             QTest::keyClick(fileList(dialog), Qt::Key_Return);
         }},
    });
    ASSERT_EQ(presenter.present(panel), OpenPanel::OKResponse);
    ASSERT_EQ(panel.URLs().size(), 1u);
    EXPECT_EQ(panel.URLs().front().path(), latin1);
}

TEST(FileDialogOpenPanelTest, WhereFilesCanBeChosenAnArchiveWhoseNameIsNotUtf8IsListedButNoOtherFile)
{
    TemporaryDirectory home;
    writeFile(home.file("caf\xe9.zip"), "PK");
    writeFile(home.file("caf\xe9.txt"), "text");
    std::filesystem::create_directory(home.file("Plain"));
    OpenPanel panel = foldersAndArchivesPanel(home.path());
    scriptFileDialog({
        {[](QFileDialog &dialog) {
             return rowNamed(dialog, "Plain").isValid() && rowNamed(dialog, QStringLiteral("caf\uFFFD.zip")).isValid();
         },
         [](QFileDialog &dialog) {
             EXPECT_EQ(listedNames(dialog).size(), 2u) << "the text file is of no kind the panel takes";
             selectRow(dialog, rowNamed(dialog, QStringLiteral("caf\uFFFD.zip")));
         }},
        {[](QFileDialog &dialog) {
             return nameField(dialog)->text() == QStringLiteral("caf\uFFFD.zip")
                    && FileDialogOpenPanel::acceptButton(dialog)->isEnabled();
         },
         [](QFileDialog &dialog) { QTest::mouseClick(FileDialogOpenPanel::acceptButton(dialog), Qt::LeftButton); }},
    });
    FileDialogOpenPanel presenter;
    ASSERT_EQ(presenter.present(panel), OpenPanel::OKResponse);
    ASSERT_EQ(panel.URLs().size(), 1u);
    EXPECT_EQ(panel.URLs().front().path(), home.file("caf\xe9.zip"));

    // A panel for documents only lists every such file, but no such folder: it could be neither
    // entered nor chosen.
    std::filesystem::create_directory(home.file("Alb\xfcm"));
    OpenPanel documents;
    documents.setAllowsMultipleSelection(true);
    documents.setDirectoryURL(URL::fileURLWithPath(home.path()));
    scriptFileDialog({
        {[](QFileDialog &dialog) { return rowNamed(dialog, QStringLiteral("caf\uFFFD.txt")).isValid(); },
         [](QFileDialog &dialog) {
             std::vector<std::string> names = listedNames(dialog);
             std::sort(names.begin(), names.end());
             EXPECT_EQ(names, (std::vector<std::string>{"Plain", "caf\xef\xbf\xbd.txt", "caf\xef\xbf\xbd.zip"}));
             selectRow(dialog, rowNamed(dialog, QStringLiteral("caf\uFFFD.txt")));
         }},
        {[](QFileDialog &dialog) { return FileDialogOpenPanel::acceptButton(dialog)->isEnabled(); },
         [](QFileDialog &dialog) { QTest::mouseClick(FileDialogOpenPanel::acceptButton(dialog), Qt::LeftButton); }},
    });
    ASSERT_EQ(presenter.present(documents), OpenPanel::OKResponse);
    ASSERT_EQ(documents.URLs().size(), 1u);
    EXPECT_EQ(documents.URLs().front().path(), home.file("caf\xe9.txt"));
}
