#include "FileDialogOpenPanel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>
#include <vector>

#include "LocalizedString.h"
#include "OpenPanelItemsModel.h"

namespace
{
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

// Confirms only what the delegate validates. Where both files and folders can be chosen, a
// selected or typed folder is chosen by the accept button and by Enter: Qt's dialog, in a mode for
// files, would open the folder instead (a double click still does). An item whose name is not
// UTF-8 is chosen as itself, by its bytes; it cannot be entered.
class ValidatingFileDialog : public QFileDialog
{
public:
    explicit ValidatingFileDialog(const OpenPanel &panel) : m_panel(panel), m_items(new OpenPanelItemsModel(panel, this))
    {
        setOption(QFileDialog::DontUseNativeDialog, true);
    }

    void showItems() { setProxyModel(m_items); }

    URL urlOf(const QString &path) const { return URL::fileURLWithPath(m_items->bytesOfPath(path)); }

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        bool holdsFolder = false;
        bool holdsUnlisted = false;
        for (const QString &path : chosen) {
            if (!m_panel.validateURL(urlOf(path))) {
                QApplication::beep();
                return;
            }
            const bool unlisted = m_items->isUnlistedPath(path);
            holdsUnlisted = holdsUnlisted || unlisted;
            holdsFolder = holdsFolder || (unlisted ? m_items->isUnlistedFolder(path) : QFileInfo(path).isDir());
        }
        if (chosen.isEmpty())
            return;
        // Qt's own dialog looks the chosen items up by their text, which does not name an
        // unlisted one.
        if (holdsUnlisted || (holdsFolder && choosesFilesAndFolders()))
            QDialog::accept();
        else
            QFileDialog::accept();
    }

    // Keeps the accept button saying and doing what a click chooses: Qt's dialog renames the button
    // "Open", leaves a selected folder out of the name field, and disables the button for an
    // item it cannot look up by its text.
    void followSelection()
    {
        m_acceptButton = FileDialogOpenPanel::acceptButton(*this);
        m_nameField = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        // The dialog changes the button while it handles these; the button is put right after it.
        const auto keepAcceptLater = [this] {
            QMetaObject::invokeMethod(this, [this] { keepAccept(); }, Qt::QueuedConnection);
        };
        if (m_nameField) {
            connect(m_nameField, &QLineEdit::textChanged, this, keepAcceptLater);
            // The dialog selects the item a name typed in the field names. The field names a
            // selected unlisted item by its shown text, which may be a listed item's name too:
            // that item is not to be selected with it.
            if (disconnect(m_nameField, SIGNAL(textChanged(QString)), this, SLOT(_q_autoCompleteFileName(QString)))) {
                connect(m_nameField, &QLineEdit::textChanged, this, [this](const QString &text) {
                    if (!m_nameField->hasFocus() && selectionHoldsUnlisted())
                        return;
                    QMetaObject::invokeMethod(this, "_q_autoCompleteFileName", Qt::DirectConnection, Q_ARG(QString, text));
                });
            }
        }
        // The list and the detailed tree share the list's selection.
        m_list = findChild<QAbstractItemView *>(QStringLiteral("listView"));
        if (m_list && m_list->selectionModel()) {
            const auto followSelection = [this, keepAcceptLater] {
                nameSelectedItems();
                keepAcceptLater();
            };
            connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, followSelection);
            connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this, keepAcceptLater);
        }
        connect(this, &QFileDialog::currentChanged, this, keepAcceptLater);
        connect(this, &QFileDialog::directoryEntered, this, keepAcceptLater);
        for (const char *name : {"listView", "treeView"}) {
            if (auto *view = findChild<QAbstractItemView *>(QLatin1String(name))) {
                view->installEventFilter(this);
                view->viewport()->installEventFilter(this);
                m_views.push_back(view);
            }
        }
        keepAccept();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (m_deliveringQuietly)
            return false;
        for (QAbstractItemView *view : m_views) {
            if (watched == view && event->type() == QEvent::KeyPress && m_items->isUnlisted(view->currentIndex())) {
                const int key = static_cast<QKeyEvent *>(event)->key();
                if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                    accept();
                    return true;
                }
            }
            if (watched == view->viewport() && activates(*view, *event)) {
                // Qt's dialog would go to the item by its text, which names nothing there; the
                // click still selects it.
                const QSignalBlocker quiet(view);
                m_deliveringQuietly = true;
                QCoreApplication::sendEvent(watched, event);
                m_deliveringQuietly = false;
                return true;
            }
        }
        return QFileDialog::eventFilter(watched, event);
    }

private:
    bool choosesFilesAndFolders() const { return m_panel.canChooseFiles() && m_panel.canChooseDirectories(); }

    // The mouse event would activate an unlisted row: a double click, or the release of a click
    // where the style activates items with one.
    bool activates(const QAbstractItemView &view, const QEvent &event) const
    {
        const bool doubleClick = event.type() == QEvent::MouseButtonDblClick;
        const bool release = event.type() == QEvent::MouseButtonRelease
                             && view.style()->styleHint(QStyle::SH_ItemView_ActivateItemOnSingleClick, nullptr, &view);
        if (!doubleClick && !release)
            return false;
        const QPoint at = static_cast<const QMouseEvent &>(event).position().toPoint();
        return m_items->isUnlisted(view.indexAt(at));
    }

    QModelIndexList selectedRows() const
    {
        return m_list && m_list->selectionModel() ? m_list->selectionModel()->selectedRows() : QModelIndexList();
    }

    bool selectionHoldsUnlisted() const
    {
        const QModelIndexList rows = selectedRows();
        return std::any_of(rows.begin(), rows.end(), [this](const QModelIndex &row) { return m_items->isUnlisted(row); });
    }

    void keepAccept()
    {
        if (!m_acceptButton)
            return;
        const QString prompt = QString::fromStdString(m_panel.prompt());
        if (choosesFilesAndFolders() && !prompt.isEmpty() && m_acceptButton->text() != prompt)
            m_acceptButton->setText(prompt);
        if (selectionHoldsUnlisted() && !m_acceptButton->isEnabled()) {
            const QStringList chosen = selectedFiles();
            m_acceptButton->setEnabled(std::all_of(chosen.begin(), chosen.end(), [this](const QString &path) {
                return m_panel.validateURL(urlOf(path));
            }));
        }
    }

    // The selected items' names, folders and unlisted items included, as the dialog writes
    // selected files' names.
    void nameSelectedItems()
    {
        if (!m_nameField || m_nameField->hasFocus() || !(choosesFilesAndFolders() || selectionHoldsUnlisted()))
            return;
        const QModelIndexList rows = selectedRows();
        QStringList names;
        for (const QModelIndex &row : rows)
            names.append(row.data().toString());
        if (names.size() > 1)
            for (QString &name : names)
                name = QLatin1Char('"') + name + QLatin1Char('"');
        const QString text = names.join(QLatin1Char(' '));
        if (!text.isEmpty() && text != m_nameField->text())
            m_nameField->setText(text);
    }

    const OpenPanel &m_panel;
    OpenPanelItemsModel *m_items;
    QPushButton *m_acceptButton = nullptr;
    QLineEdit *m_nameField = nullptr;
    QAbstractItemView *m_list = nullptr;
    std::vector<QAbstractItemView *> m_views;
    bool m_deliveringQuietly = false;
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
    dialog.showItems();
    // The root is one click away, whatever the start folder.
    QList<QUrl> sidebar = dialog.sidebarUrls();
    if (!sidebar.contains(QUrl::fromLocalFile("/")))
        sidebar.prepend(QUrl::fromLocalFile("/"));
    dialog.setSidebarUrls(sidebar);
    if (panel.directoryURL())
        dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(panel.directoryURL()->path())));
    if (!panel.prompt().empty())
        dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(panel.prompt()));
    dialog.setWindowTitle(QString::fromStdString(panel.title()));
    dialog.followSelection();

    if (dialog.exec() != QDialog::Accepted)
        return OpenPanel::cancelResponse;
    // Each chosen path as the file system names it: its bytes, UTF-8 or not.
    std::vector<URL> urls;
    for (const QString &path : dialog.selectedFiles())
        urls.push_back(dialog.urlOf(path));
    panel.setURLs(std::move(urls));
    return OpenPanel::OKResponse;
}
