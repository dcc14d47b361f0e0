#include "FileDialogOpenPanel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

namespace
{
URL urlOf(const QString &path)
{
    return URL::fileURLWithPath(path.toStdString());
}

// Items the delegate does not enable can still be opened to look inside, but not selected.
class DelegateFilterModel : public QSortFilterProxyModel
{
public:
    DelegateFilterModel(const OpenPanel &panel, QObject *parent) : QSortFilterProxyModel(parent), m_panel(panel) {}

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags itemFlags = QSortFilterProxyModel::flags(index);
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (files && !m_panel.shouldEnableURL(urlOf(files->filePath(mapToSource(index)))))
            itemFlags &= ~Qt::ItemIsSelectable;
        return itemFlags;
    }

private:
    const OpenPanel &m_panel;
};

// Confirms only what the delegate validates.
class ValidatingFileDialog : public QFileDialog
{
public:
    explicit ValidatingFileDialog(const OpenPanel &panel) : m_panel(panel) {}

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        for (const QString &path : chosen) {
            if (!m_panel.validateURL(urlOf(path))) {
                QApplication::beep();
                return;
            }
        }
        if (!chosen.isEmpty())
            QFileDialog::accept();
    }

private:
    const OpenPanel &m_panel;
};
}

void FileDialogOpenPanel::install()
{
    OpenPanel::setPresenter(std::make_shared<FileDialogOpenPanel>());
}

std::int64_t FileDialogOpenPanel::present(OpenPanel &panel)
{
    ValidatingFileDialog dialog(panel);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (panel.canChooseDirectories() && !panel.canChooseFiles()) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        // The dialog picks one folder; its views can be told to take several.
        if (panel.allowsMultipleSelection()) {
            for (QAbstractItemView *view : dialog.findChildren<QAbstractItemView *>()) {
                if (view->objectName() == QLatin1String("listView") || view->objectName() == QLatin1String("treeView"))
                    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
            }
        }
    } else {
        dialog.setFileMode(panel.allowsMultipleSelection() ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    dialog.setProxyModel(new DelegateFilterModel(panel, &dialog));
    // The root is one click away, whatever the start folder.
    QList<QUrl> sidebar = dialog.sidebarUrls();
    if (!sidebar.contains(QUrl::fromLocalFile("/")))
        sidebar.prepend(QUrl::fromLocalFile("/"));
    dialog.setSidebarUrls(sidebar);
    if (panel.directoryURL())
        dialog.setDirectory(QString::fromStdString(panel.directoryURL()->path()));
    if (!panel.prompt().empty())
        dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(panel.prompt()));
    dialog.setWindowTitle(QString::fromStdString(panel.title()));

    if (dialog.exec() != QDialog::Accepted)
        return OpenPanel::cancelResponse;
    std::vector<URL> urls;
    for (const QString &path : dialog.selectedFiles())
        urls.push_back(urlOf(path));
    panel.setURLs(std::move(urls));
    return OpenPanel::OKResponse;
}
