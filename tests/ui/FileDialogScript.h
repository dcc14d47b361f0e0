#pragma once

#include <QModelIndex>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QAbstractItemView;
class QFileDialog;

// Drives Qt's real file dialog while it runs modally: each step acts once its condition holds,
// in order. A step that never becomes ready fails the test and closes the dialog after a while.
struct FileDialogStep
{
    std::function<bool(QFileDialog &)> ready;
    std::function<void(QFileDialog &)> act;
};
void scriptFileDialog(std::vector<FileDialogStep> steps);

// The dialog's shown view of the folder's items (its list or its detailed tree).
QAbstractItemView *fileList(QFileDialog &dialog);
// The shown folder's row of that name; invalid while it is not listed (the listing arrives late).
QModelIndex rowNamed(QFileDialog &dialog, const QString &name);
// The names of the shown folder's items, as listed.
std::vector<std::string> listedNames(QFileDialog &dialog);
// Selects the row alone and gives the list the focus, as a click on the row does.
void selectRow(QFileDialog &dialog, const QModelIndex &row);
// Double-clicks the row.
void doubleClick(QAbstractItemView &view, const QModelIndex &row);
