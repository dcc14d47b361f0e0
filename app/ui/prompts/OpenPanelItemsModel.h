#pragma once

#include <QDateTime>
#include <QIdentityProxyModel>
#include <QPersistentModelIndex>
#include <QString>

#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class OpenPanel;
class QFileSystemModel;

// What an open panel's file dialog lists: the file system's items (those the panel does not
// enable shown, but not selectable), and after them, in each folder, the items whose names are not
// UTF-8, which Qt's own listing leaves out: its folders where folders can be chosen, and its files
// where files of their kind can be chosen. Such an item shows its name as Qt decodes it (a U+FFFD
// for each stray byte); the path the dialog hands on for it stands for its bytes, and
// bytesOfPath() gives them back. It can be chosen, but not entered: Qt cannot list what it holds.
class OpenPanelItemsModel : public QIdentityProxyModel
{
    Q_OBJECT

public:
    OpenPanelItemsModel(const OpenPanel &panel, QObject *parent);
    ~OpenPanelItemsModel() override;

    // The file system's name for a path the dialog gives: its bytes.
    std::string bytesOfPath(const QString &path) const;
    // The row is one of the items that Qt's listing leaves out.
    bool isUnlisted(const QModelIndex &index) const;
    // The path stands for such an item; for a folder, when it is one.
    bool isUnlistedPath(const QString &path) const;
    bool isUnlistedFolder(const QString &path) const;

    void setSourceModel(QAbstractItemModel *source) override;
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QMap<int, QVariant> itemData(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QModelIndex buddy(const QModelIndex &index) const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;

private:
    struct Unlisted
    {
        QString folder;
        std::string name;
        bool isFolder = false;
        qint64 size = 0;
        QDateTime modified;
        // Its place after the folder's listed items.
        int position = 0;
        // The path the dialog hands on: its name with each stray byte as a private-use character.
        QString path;
    };
    using UnlistedItems = std::vector<std::unique_ptr<Unlisted>>;

    static std::string bytesOf(const Unlisted &item);
    // A row made by the file system model keeps that model's own pointer; an unlisted one, its item.
    const Unlisted *unlistedOf(const QModelIndex &index) const;
    // The folder's unlisted items, read from the folder the first time they are asked for.
    const UnlistedItems &unlistedIn(const QModelIndex &sourceFolder) const;
    QModelIndex indexOfUnlisted(const Unlisted &item, int column) const;
    QVariant unlistedData(const Unlisted &item, int column, int role) const;
    const QFileSystemModel *files() const;

    // The file system model sorts its folders by moving rows about; unlisted rows keep their place.
    void sourceLayoutWillChange(const QList<QPersistentModelIndex> &sourceParents, LayoutChangeHint hint);
    void sourceLayoutDidChange(const QList<QPersistentModelIndex> &sourceParents, LayoutChangeHint hint);
    QList<QPersistentModelIndex> proxyParents(const QList<QPersistentModelIndex> &sourceParents) const;
    void forgetUnlisted();

    struct HeldIndex
    {
        QPersistentModelIndex proxy;
        QPersistentModelIndex source;
        const Unlisted *unlisted = nullptr;
        int column = 0;
    };

    const OpenPanel &m_panel;
    mutable std::map<QString, UnlistedItems> m_unlisted;
    mutable std::unordered_set<const void *> m_unlistedPointers;
    mutable std::map<QString, const Unlisted *> m_unlistedByPath;
    std::vector<HeldIndex> m_heldDuringLayoutChange;
};
