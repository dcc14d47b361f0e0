#include "OpenPanelItemsModel.h"

#include <QAbstractFileIconProvider>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLocale>
#include <QMimeData>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

#include "OpenPanel.h"
#include "Utf8.h"

namespace
{
// A stray byte of a name stands in the path the dialog hands on as this character plus the byte:
// private-use characters, which survive the dialog's trip through URLs.
constexpr char16_t strayByteBase = 0xF700;

// Qt names items by decoded text; a name that does not come back from that text unchanged is one
// Qt cannot name, and its own listing leaves such names out.
bool qtCanName(const std::string &name)
{
    const QByteArray bytes = QByteArray::fromStdString(name);
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

std::size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead >> 5) == 0x6)
        return 2;
    if ((lead >> 4) == 0xE)
        return 3;
    if ((lead >> 3) == 0x1E)
        return 4;
    return 0;
}

QString escapedName(const std::string &name)
{
    QString text;
    std::size_t at = 0;
    while (at < name.size()) {
        const auto lead = static_cast<unsigned char>(name[at]);
        const std::size_t length = sequenceLength(lead);
        if (length > 0 && at + length <= name.size() && isValidUTF8(std::string_view(name).substr(at, length))) {
            text += QString::fromUtf8(name.data() + at, static_cast<qsizetype>(length));
            at += length;
        } else {
            text += QChar(static_cast<char16_t>(strayByteBase + lead));
            ++at;
        }
    }
    return text;
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool exists(const QString &path)
{
    struct stat status;
    return lstat(QFile::encodeName(path).constData(), &status) == 0;
}

constexpr int nameColumn = 0;
constexpr int sizeColumn = 1;
constexpr int typeColumn = 2;
constexpr int dateColumn = 3;
}

OpenPanelItemsModel::OpenPanelItemsModel(const OpenPanel &panel, QObject *parent)
    : QIdentityProxyModel(parent)
    , m_panel(panel)
{
}

OpenPanelItemsModel::~OpenPanelItemsModel() = default;

const QFileSystemModel *OpenPanelItemsModel::files() const
{
    return qobject_cast<const QFileSystemModel *>(sourceModel());
}

std::string OpenPanelItemsModel::bytesOfPath(const QString &path) const
{
    const auto found = m_unlistedByPath.find(path);
    if (found == m_unlistedByPath.end())
        return QFile::encodeName(path).toStdString();
    return bytesOf(*found->second);
}

std::string OpenPanelItemsModel::bytesOf(const Unlisted &item)
{
    std::string folder = QFile::encodeName(item.folder).toStdString();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + item.name;
}

bool OpenPanelItemsModel::isUnlisted(const QModelIndex &index) const
{
    return unlistedOf(index) != nullptr;
}

bool OpenPanelItemsModel::isUnlistedPath(const QString &path) const
{
    return m_unlistedByPath.count(path) > 0;
}

bool OpenPanelItemsModel::isUnlistedFolder(const QString &path) const
{
    const auto found = m_unlistedByPath.find(path);
    return found != m_unlistedByPath.end() && found->second->isFolder;
}

const OpenPanelItemsModel::Unlisted *OpenPanelItemsModel::unlistedOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this || !m_unlistedPointers.count(index.internalPointer()))
        return nullptr;
    return static_cast<const Unlisted *>(index.internalPointer());
}

const OpenPanelItemsModel::UnlistedItems &OpenPanelItemsModel::unlistedIn(const QModelIndex &sourceFolder) const
{
    static const UnlistedItems none;
    const QFileSystemModel *model = files();
    if (!model || !sourceFolder.isValid() || sourceFolder.column() != 0 || !model->isDir(sourceFolder))
        return none;
    const QString folder = model->filePath(sourceFolder);
    const auto known = m_unlisted.find(folder);
    if (known != m_unlisted.end())
        return known->second;

    UnlistedItems &items = m_unlisted[folder];
    DIR *listing = opendir(QFile::encodeName(folder).constData());
    if (!listing)
        return items;
    const bool showsFiles = model->filter().testFlag(QDir::Files) && m_panel.canChooseFiles();
    const bool showsHidden = model->filter().testFlag(QDir::Hidden);
    std::vector<std::unique_ptr<Unlisted>> found;
    while (const dirent *entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || qtCanName(name) || (name.front() == '.' && !showsHidden))
            continue;
        // Never through a link: only what is there under this name.
        struct stat status;
        if (fstatat(dirfd(listing), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        auto item = std::make_unique<Unlisted>();
        item->folder = folder;
        item->name = name;
        item->isFolder = S_ISDIR(status.st_mode);
        item->size = status.st_size;
        item->modified = QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec);
        item->path = joined(folder, escapedName(name));
        // Such a folder cannot be entered: it is only listed where folders can be chosen.
        if (item->isFolder ? !m_panel.canChooseDirectories() : !(S_ISREG(status.st_mode) && showsFiles))
            continue;
        // A path that some other item already goes by would hand on the wrong bytes.
        if (m_unlistedByPath.count(item->path) || exists(item->path))
            continue;
        if (!item->isFolder && !m_panel.shouldEnableURL(URL::fileURLWithPath(bytesOf(*item))))
            continue;
        m_unlistedByPath[item->path] = item.get();
        found.push_back(std::move(item));
    }
    closedir(listing);
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a->name < b->name; });
    for (std::size_t position = 0; position < found.size(); ++position) {
        found[position]->position = static_cast<int>(position);
        m_unlistedPointers.insert(found[position].get());
    }
    items = std::move(found);
    return items;
}

QModelIndex OpenPanelItemsModel::indexOfUnlisted(const Unlisted &item, int column) const
{
    const QFileSystemModel *model = files();
    if (!model)
        return {};
    const QModelIndex folder = model->index(item.folder);
    return createIndex(model->rowCount(folder) + item.position, column, const_cast<Unlisted *>(&item));
}

void OpenPanelItemsModel::setSourceModel(QAbstractItemModel *source)
{
    forgetUnlisted();
    if (sourceModel()) {
        disconnect(sourceModel(), &QAbstractItemModel::layoutAboutToBeChanged, this, nullptr);
        disconnect(sourceModel(), &QAbstractItemModel::layoutChanged, this, nullptr);
        disconnect(sourceModel(), &QAbstractItemModel::modelAboutToBeReset, this, nullptr);
    }
    QIdentityProxyModel::setSourceModel(source);
    if (!source)
        return;
    // The identity model's own handling would lose the places of the unlisted rows; this one
    // moves the listed rows as the file system model says and keeps the others after them.
    disconnect(source, SIGNAL(layoutAboutToBeChanged(QList<QPersistentModelIndex>, QAbstractItemModel::LayoutChangeHint)),
               this, nullptr);
    disconnect(source, SIGNAL(layoutChanged(QList<QPersistentModelIndex>, QAbstractItemModel::LayoutChangeHint)), this,
               nullptr);
    connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this, &OpenPanelItemsModel::sourceLayoutWillChange);
    connect(source, &QAbstractItemModel::layoutChanged, this, &OpenPanelItemsModel::sourceLayoutDidChange);
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &OpenPanelItemsModel::forgetUnlisted);
}

void OpenPanelItemsModel::forgetUnlisted()
{
    m_unlistedByPath.clear();
    m_unlistedPointers.clear();
    m_unlisted.clear();
}

QList<QPersistentModelIndex> OpenPanelItemsModel::proxyParents(const QList<QPersistentModelIndex> &sourceParents) const
{
    QList<QPersistentModelIndex> parents;
    for (const QPersistentModelIndex &parent : sourceParents) {
        if (!parent.isValid()) {
            parents.append(QPersistentModelIndex());
            continue;
        }
        const QModelIndex mapped = mapFromSource(parent);
        if (mapped.isValid())
            parents.append(mapped);
    }
    return parents;
}

void OpenPanelItemsModel::sourceLayoutWillChange(const QList<QPersistentModelIndex> &sourceParents,
                                                 LayoutChangeHint hint)
{
    emit layoutAboutToBeChanged(proxyParents(sourceParents), hint);
    m_heldDuringLayoutChange.clear();
    for (const QModelIndex &proxy : persistentIndexList()) {
        HeldIndex held;
        held.proxy = proxy;
        held.unlisted = unlistedOf(proxy);
        held.column = proxy.column();
        if (!held.unlisted)
            held.source = mapToSource(proxy);
        m_heldDuringLayoutChange.push_back(std::move(held));
    }
}

void OpenPanelItemsModel::sourceLayoutDidChange(const QList<QPersistentModelIndex> &sourceParents,
                                                LayoutChangeHint hint)
{
    QModelIndexList from;
    QModelIndexList to;
    for (const HeldIndex &held : m_heldDuringLayoutChange) {
        from.append(held.proxy);
        to.append(held.unlisted ? indexOfUnlisted(*held.unlisted, held.column) : mapFromSource(held.source));
    }
    m_heldDuringLayoutChange.clear();
    changePersistentIndexList(from, to);
    emit layoutChanged(proxyParents(sourceParents), hint);
}

QModelIndex OpenPanelItemsModel::mapToSource(const QModelIndex &proxyIndex) const
{
    if (unlistedOf(proxyIndex))
        return {};
    return QIdentityProxyModel::mapToSource(proxyIndex);
}

QModelIndex OpenPanelItemsModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!sourceModel() || row < 0 || column < 0 || unlistedOf(parent))
        return {};
    const QModelIndex sourceParent = mapToSource(parent);
    const int listed = sourceModel()->rowCount(sourceParent);
    if (row < listed)
        return QIdentityProxyModel::index(row, column, parent);
    const UnlistedItems &items = unlistedIn(sourceParent);
    const auto position = static_cast<std::size_t>(row - listed);
    if (position >= items.size() || column >= columnCount(parent))
        return {};
    return createIndex(row, column, items[position].get());
}

QModelIndex OpenPanelItemsModel::parent(const QModelIndex &child) const
{
    if (const Unlisted *item = unlistedOf(child)) {
        const QFileSystemModel *model = files();
        return model ? mapFromSource(model->index(item->folder)) : QModelIndex();
    }
    return QIdentityProxyModel::parent(child);
}

QModelIndex OpenPanelItemsModel::sibling(int row, int column, const QModelIndex &index) const
{
    return index.isValid() ? this->index(row, column, parent(index)) : QModelIndex();
}

int OpenPanelItemsModel::rowCount(const QModelIndex &parent) const
{
    if (!sourceModel() || unlistedOf(parent))
        return 0;
    const QModelIndex sourceParent = mapToSource(parent);
    return sourceModel()->rowCount(sourceParent) + static_cast<int>(unlistedIn(sourceParent).size());
}

bool OpenPanelItemsModel::hasChildren(const QModelIndex &parent) const
{
    return !unlistedOf(parent) && QIdentityProxyModel::hasChildren(parent);
}

bool OpenPanelItemsModel::canFetchMore(const QModelIndex &parent) const
{
    return !unlistedOf(parent) && QIdentityProxyModel::canFetchMore(parent);
}

void OpenPanelItemsModel::fetchMore(const QModelIndex &parent)
{
    if (!unlistedOf(parent))
        QIdentityProxyModel::fetchMore(parent);
}

QVariant OpenPanelItemsModel::unlistedData(const Unlisted &item, int column, int role) const
{
    const QString shownName = QFile::decodeName(QByteArray::fromStdString(item.name));
    if (role == QFileSystemModel::FilePathRole)
        return item.path;
    if (role == QFileSystemModel::FileNameRole)
        return item.path.mid(item.folder.size() + (item.folder.endsWith(QLatin1Char('/')) ? 0 : 1));
    if (role == Qt::DecorationRole && column == nameColumn) {
        const QFileSystemModel *model = files();
        if (!model || !model->iconProvider())
            return {};
        return model->iconProvider()->icon(item.isFolder ? QAbstractFileIconProvider::Folder
                                                         : QAbstractFileIconProvider::File);
    }
    if (role == Qt::TextAlignmentRole && column == sizeColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole)
        return {};
    switch (column) {
    case nameColumn:
        return shownName;
    case sizeColumn:
        return item.isFolder ? QString() : QLocale::system().formattedDataSize(item.size);
    case typeColumn: {
        const QString kind = QCoreApplication::translate("QAbstractFileIconProvider", item.isFolder ? "Folder" : "File");
        const QString suffix = item.isFolder ? QString() : QFileInfo(shownName).suffix();
        return suffix.isEmpty() ? kind : suffix + QLatin1Char(' ') + kind;
    }
    case dateColumn:
        return QLocale::system().toString(item.modified, QLocale::ShortFormat);
    default:
        return {};
    }
}

QVariant OpenPanelItemsModel::data(const QModelIndex &index, int role) const
{
    if (const Unlisted *item = unlistedOf(index))
        return unlistedData(*item, index.column(), role);
    return QIdentityProxyModel::data(index, role);
}

QMap<int, QVariant> OpenPanelItemsModel::itemData(const QModelIndex &index) const
{
    if (unlistedOf(index))
        return QAbstractItemModel::itemData(index);
    return QIdentityProxyModel::itemData(index);
}

bool OpenPanelItemsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    return !unlistedOf(index) && QIdentityProxyModel::setData(index, value, role);
}

Qt::ItemFlags OpenPanelItemsModel::flags(const QModelIndex &index) const
{
    if (const Unlisted *item = unlistedOf(index)) {
        Qt::ItemFlags itemFlags = Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
        if (m_panel.shouldEnableURL(URL::fileURLWithPath(bytesOf(*item))))
            itemFlags |= Qt::ItemIsSelectable;
        return itemFlags;
    }
    // Items the panel does not enable can still be opened to look inside, but not selected.
    Qt::ItemFlags itemFlags = QIdentityProxyModel::flags(index);
    const QFileSystemModel *model = files();
    if (model && index.isValid()
        && !m_panel.shouldEnableURL(URL::fileURLWithPath(bytesOfPath(model->filePath(mapToSource(index))))))
        itemFlags &= ~Qt::ItemIsSelectable;
    return itemFlags;
}

QModelIndex OpenPanelItemsModel::buddy(const QModelIndex &index) const
{
    return unlistedOf(index) ? index : QIdentityProxyModel::buddy(index);
}

QMimeData *OpenPanelItemsModel::mimeData(const QModelIndexList &indexes) const
{
    QModelIndexList listed;
    std::copy_if(indexes.begin(), indexes.end(), std::back_inserter(listed),
                 [this](const QModelIndex &index) { return !unlistedOf(index); });
    return QIdentityProxyModel::mimeData(listed);
}
