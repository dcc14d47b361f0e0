#include "FileDialogOpenPanel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>

#include "LocalizedString.h"

namespace
{
URL urlOf(const QString &path)
{
    return URL::fileURLWithPath(path.toStdString());
}

// The filter the panel's file-type box shows: what can be chosen, by name pattern.
QString nameFilter(const OpenPanel &panel)
{
    if (panel.allowedFileTypes().empty())
        return QString::fromStdString(LSFK(panel.canChooseDirectories() ? "Files and folders" : "Files"))
               + QStringLiteral(" (*)");
    QStringList extensions;
    QStringList patterns;
    for (const std::string &type : panel.allowedFileTypes()) {
        extensions.append(QLatin1Char('.') + QString::fromStdString(type));
        patterns.append(QStringLiteral("*.") + QString::fromStdString(type));
    }
    const std::string kinds = panel.canChooseDirectories() ? "Folders and %@ files" : "%@ files";
    return QString::fromStdString(LSFK(kinds)).replace(QLatin1String("%@"), extensions.join(QStringLiteral(", ")))
           + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
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

// Confirms only what the delegate validates. Where both files and folders can be chosen, a
// selected or typed folder is chosen by the accept button and by Enter: Qt's dialog, in a mode for
// files, would open the folder instead (a double click still does).
class ValidatingFileDialog : public QFileDialog
{
public:
    explicit ValidatingFileDialog(const OpenPanel &panel) : m_panel(panel) {}

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        bool holdsFolder = false;
        for (const QString &path : chosen) {
            if (!m_panel.validateURL(urlOf(path))) {
                QApplication::beep();
                return;
            }
            holdsFolder = holdsFolder || QFileInfo(path).isDir();
        }
        if (chosen.isEmpty())
            return;
        if (holdsFolder && choosesFilesAndFolders())
            QDialog::accept();
        else
            QFileDialog::accept();
    }

    // Keeps the accept button's text and the name field saying what a click chooses: Qt's
    // dialog renames the button "Open" and leaves a selected folder out of the field.
    void followSelectionOfFolders()
    {
        if (!choosesFilesAndFolders())
            return;
        m_acceptButton = FileDialogOpenPanel::acceptButton(*this);
        m_nameField = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        // The dialog renames the button while it handles these; the name is put back after it.
        const auto keepAcceptTextLater = [this] {
            QMetaObject::invokeMethod(this, [this] { keepAcceptText(); }, Qt::QueuedConnection);
        };
        if (m_nameField)
            connect(m_nameField, &QLineEdit::textChanged, this, keepAcceptTextLater);
        // The list and the detailed tree share the list's selection.
        auto *list = findChild<QAbstractItemView *>(QStringLiteral("listView"));
        if (list && list->selectionModel()) {
            const auto followSelection = [this, list, keepAcceptTextLater] {
                nameSelectedItems(*list);
                keepAcceptTextLater();
            };
            connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, followSelection);
            connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this, keepAcceptTextLater);
        }
        connect(this, &QFileDialog::currentChanged, this, keepAcceptTextLater);
        connect(this, &QFileDialog::directoryEntered, this, keepAcceptTextLater);
        keepAcceptText();
    }

private:
    bool choosesFilesAndFolders() const { return m_panel.canChooseFiles() && m_panel.canChooseDirectories(); }

    void keepAcceptText()
    {
        const QString prompt = QString::fromStdString(m_panel.prompt());
        if (m_acceptButton && !prompt.isEmpty() && m_acceptButton->text() != prompt)
            m_acceptButton->setText(prompt);
    }

    // The selected items' names, folders included, as the dialog writes selected files' names.
    void nameSelectedItems(const QAbstractItemView &view)
    {
        if (!m_nameField || m_nameField->hasFocus())
            return;
        QStringList names;
        for (const QModelIndex &row : view.selectionModel()->selectedRows())
            names.append(row.data().toString());
        if (names.size() > 1)
            for (QString &name : names)
                name = QLatin1Char('"') + name + QLatin1Char('"');
        const QString text = names.join(QLatin1Char(' '));
        if (!text.isEmpty() && text != m_nameField->text())
            m_nameField->setText(text);
    }

    const OpenPanel &m_panel;
    QPushButton *m_acceptButton = nullptr;
    QLineEdit *m_nameField = nullptr;
};
}

QPushButton *FileDialogOpenPanel::acceptButton(const QFileDialog &dialog)
{
    const auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    if (!box)
        return nullptr;
    for (QAbstractButton *button : box->buttons())
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole)
            return qobject_cast<QPushButton *>(button);
    return nullptr;
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
        dialog.setNameFilter(nameFilter(panel));
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
    dialog.followSelectionOfFolders();

    if (dialog.exec() != QDialog::Accepted)
        return OpenPanel::cancelResponse;
    std::vector<URL> urls;
    for (const QString &path : dialog.selectedFiles())
        urls.push_back(urlOf(path));
    panel.setURLs(std::move(urls));
    return OpenPanel::OKResponse;
}
