#include "FileDialogScript.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QTimer>

#include <deque>
#include <gtest/gtest.h>
#include <memory>

namespace
{
constexpr qint64 stepTimeoutMilliseconds = 30000;

// The file dialog on screen, whatever other window may be modal.
QFileDialog *shownFileDialog()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(window); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}
}

void scriptFileDialog(std::vector<FileDialogStep> steps)
{
    auto remaining = std::make_shared<std::deque<FileDialogStep>>(steps.begin(), steps.end());
    auto waiting = std::make_shared<QElapsedTimer>();
    waiting->start();
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, remaining, waiting] {
        QFileDialog *dialog = shownFileDialog();
        if (!dialog)
            return;
        if (!remaining->front().ready(*dialog)) {
            if (waiting->elapsed() < stepTimeoutMilliseconds)
                return;
            ADD_FAILURE() << "the file dialog never became ready for step "
                          << "(" << remaining->size() << " left)";
            remaining->clear();
            timer->stop();
            timer->deleteLater();
            dialog->reject();
            return;
        }
        const FileDialogStep step = std::move(remaining->front());
        remaining->pop_front();
        waiting->restart();
        if (remaining->empty()) {
            timer->stop();
            timer->deleteLater();
        }
        step.act(*dialog);
    });
    timer->start(10);
}

QAbstractItemView *fileList(QFileDialog &dialog)
{
    // The list and the detailed tree show the same rows; one of them is shown.
    auto *tree = dialog.findChild<QAbstractItemView *>(QStringLiteral("treeView"));
    if (tree && tree->isVisible())
        return tree;
    return dialog.findChild<QAbstractItemView *>(QStringLiteral("listView"));
}

QModelIndex rowNamed(QFileDialog &dialog, const QString &name)
{
    QAbstractItemView *list = fileList(dialog);
    if (!list)
        return {};
    const QAbstractItemModel *model = list->model();
    for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
        const QModelIndex index = model->index(row, 0, list->rootIndex());
        if (index.data().toString() == name)
            return index;
    }
    return {};
}

std::vector<std::string> listedNames(QFileDialog &dialog)
{
    std::vector<std::string> names;
    QAbstractItemView *list = fileList(dialog);
    const QAbstractItemModel *model = list->model();
    for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
        names.push_back(model->index(row, 0, list->rootIndex()).data().toString().toStdString());
    return names;
}

void selectRow(QFileDialog &dialog, const QModelIndex &row)
{
    // A click gives the list the focus before it selects.
    fileList(dialog)->setFocus(Qt::MouseFocusReason);
    fileList(dialog)->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect
                                                                  | QItemSelectionModel::Rows);
}


void doubleClick(QAbstractItemView &view, const QModelIndex &row)
{
    // The events a desktop delivers for a double click: press, release, double click, release.
    const QPointF at = view.visualRect(row).center();
    const QPointF global = view.viewport()->mapToGlobal(at);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                    QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, global, Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &event);
    }
}
