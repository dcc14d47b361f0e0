#include "MainWindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

#include <filesystem>

#include "GCDAdditions.h"
#include "MainUIController.h"
#include "PreferencesSupport.h"
#include "UserDefaults.h"
#include "XTWStore.h"

std::size_t ScriptedAlerts::present(Alert &alert)
{
    shown.push_back({alert.messageText(), alert.informativeText(), alert.style(), alert.buttonTitles(),
                     alert.showsSuppressionButton()});
    if (alert.showsSuppressionButton())
        alert.setSuppressionButtonChecked(tickSuppression);
    return answer;
}

std::int64_t ScriptedOpenPanels::present(OpenPanel &panel)
{
    titles.push_back(panel.title());
    prompts.push_back(panel.prompt());
    canChooseFiles.push_back(panel.canChooseFiles());
    std::vector<bool> answers;
    for (const std::string &probe : probes)
        answers.push_back(panel.shouldEnableURL(URL::fileURLWithPath(probe)));
    probeAnswers.push_back(answers);
    if (choose.empty())
        return OpenPanel::cancelResponse;
    panel.setURLs(choose);
    return OpenPanel::OKResponse;
}

MainUIController &MainWindowTest::controller()
{
    static MainUIController *const shared = MainUIController::loadFromInterfaceFile();
    return *shared;
}

void MainWindowTest::SetUp()
{
    env = std::make_unique<StoreTestEnvironment>();
    Alert::setPresenter(alerts);
    OpenPanel::setPresenter(panels);
    XTWStore::shared().load();
    controller().populateSourceTable();
}

void MainWindowTest::TearDown()
{
    // The controller outlives the test: it lets go of the record it showed, so that nothing of
    // this test is written into the next test's store.
    controller().window()->hide();
    sourceTable()->selectionModel()->clearSelection();
    controller().populateDetailsTable();
    GCDAdditions::cancelBlockWithName(XTWStore::saveThrottleName);
    OpenPanel::setPresenter(nullptr);
    Alert::setPresenter(nullptr);
    env.reset();
}

QObject *MainWindowTest::findOutlet(const char *name) const
{
    QObject *found = controller().window()->findChild<QObject *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QTreeView *MainWindowTest::sourceTable() const
{
    return outlet<QTreeView>("sourceTable");
}

QTreeView *MainWindowTest::detailsTable() const
{
    return outlet<QTreeView>("detailsTable");
}

QAction *MainWindowTest::action(const char *name) const
{
    return outlet<QAction>(name);
}

std::vector<QString> MainWindowTest::sourceTitles() const
{
    std::vector<QString> titles;
    const QAbstractItemModel *model = sourceTable()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        titles.push_back(model->index(row, 0).data().toString());
    return titles;
}

int MainWindowTest::rowOfTitle(const QString &title) const
{
    const std::vector<QString> titles = sourceTitles();
    const auto found = std::find(titles.begin(), titles.end(), title);
    return found == titles.end() ? -1 : static_cast<int>(found - titles.begin());
}

void MainWindowTest::selectSourceRow(int row)
{
    const QModelIndex index = sourceTable()->model()->index(row, 0);
    ASSERT_TRUE(index.isValid()) << row;
    sourceTable()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

void MainWindowTest::selectSourceTitle(const QString &title)
{
    const int row = rowOfTitle(title);
    ASSERT_GE(row, 0) << title.toStdString();
    selectSourceRow(row);
}

std::vector<QString> MainWindowTest::leafTitles(int group) const
{
    std::vector<QString> titles;
    const QAbstractItemModel *model = detailsTable()->model();
    const QModelIndex parent = model->index(group, 0);
    for (int row = 0; row < model->rowCount(parent); ++row)
        titles.push_back(model->index(row, 0, parent).data().toString());
    return titles;
}

bool MainWindowTest::isGroupExpanded(int group) const
{
    return detailsTable()->isExpanded(detailsTable()->model()->index(group, 0));
}

std::string MainWindowTest::makeFolder(const std::string &name) const
{
    const std::string path = env->homeFile(name);
    std::filesystem::create_directories(path);
    return path;
}

void MainWindowTest::addFolderQuietly(const std::string &path)
{
    PreferencesSupport::standardUserDefaults().setObject(Value(true), "HFSWarning");
    controller().addFolderURL(URL::fileURLWithPath(path));
    PreferencesSupport::standardUserDefaults().removeObjectForKey("HFSWarning");
}

bool MainWindowTest::drop(QTreeView *outline, const std::string &path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QWidget *viewport = outline->viewport();
    const QPoint at(viewport->width() / 2, viewport->height() - 4);
    const Qt::DropActions offered = Qt::CopyAction | Qt::LinkAction;

    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    if (!move.isAccepted())
        return false;
    QDropEvent dropEvent(QPointF(at), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &dropEvent);
    return dropEvent.isAccepted();
}
