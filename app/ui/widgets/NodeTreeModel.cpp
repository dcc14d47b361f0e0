#include "NodeTreeModel.h"

#include <QFont>
#include <QMimeData>
#include <QSize>

namespace
{
const Node::Children noChildren;

bool locateIn(const Node::Children &children, const Node *parent, const Node *node, const Node *&foundParent,
              int &foundRow)
{
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (children[i].get() == node) {
            foundParent = parent;
            foundRow = static_cast<int>(i);
            return true;
        }
        if (locateIn(children[i]->children(), children[i].get(), node, foundParent, foundRow))
            return true;
    }
    return false;
}
}

NodeTreeModel::NodeTreeModel(QObject *parent) : QAbstractItemModel(parent) {}

void NodeTreeModel::setContent(Node::Children content)
{
    beginResetModel();
    m_content = std::move(content);
    endResetModel();
}

void NodeTreeModel::appendContent(std::shared_ptr<Node> node)
{
    const int row = static_cast<int>(m_content.size());
    beginInsertRows({}, row, row);
    m_content.push_back(std::move(node));
    endInsertRows();
}

void NodeTreeModel::setDropHandlers(DropTest validate, DropTest accept)
{
    m_validateDrop = std::move(validate);
    m_acceptDrop = std::move(accept);
}

Node *NodeTreeModel::nodeForIndex(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Node *>(index.internalPointer()) : nullptr;
}

QModelIndex NodeTreeModel::indexForNode(const Node *node) const
{
    const Node *parent = nullptr;
    int row = 0;
    if (!node || !locate(node, parent, row))
        return {};
    return createIndex(row, 0, const_cast<Node *>(node));
}

bool NodeTreeModel::locate(const Node *node, const Node *&parent, int &row) const
{
    return locateIn(m_content, nullptr, node, parent, row);
}

const Node::Children &NodeTreeModel::childrenOf(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_content;
    const Node *node = nodeForIndex(parent);
    return node ? node->children() : noChildren;
}

QModelIndex NodeTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    const Node::Children &children = childrenOf(parent);
    if (row < 0 || column != 0 || row >= static_cast<int>(children.size()))
        return {};
    return createIndex(row, column, children[static_cast<std::size_t>(row)].get());
}

QModelIndex NodeTreeModel::parent(const QModelIndex &child) const
{
    const Node *parent = nullptr;
    int row = 0;
    if (!child.isValid() || !locate(nodeForIndex(child), parent, row) || !parent)
        return {};
    return indexForNode(parent);
}

int NodeTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return static_cast<int>(childrenOf(parent).size());
}

int NodeTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant NodeTreeModel::data(const QModelIndex &index, int role) const
{
    const Node *node = nodeForIndex(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return node->title();
    case Qt::DecorationRole:
        return node->image().isNull() ? QVariant() : QVariant(node->image());
    case Qt::CheckStateRole:
        if (isCheckable(*node))
            return node->enabled() ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::FontRole: {
        if (!m_group || !m_group(*node))
            return {};
        QFont font;
        font.setBold(true);
        return font;
    }
    case Qt::SizeHintRole: {
        const int height = m_rowHeight ? m_rowHeight(*node) : 0;
        return height > 0 ? QVariant(QSize(1, height)) : QVariant();
    }
    default:
        return {};
    }
}

bool NodeTreeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    Node *node = nodeForIndex(index);
    if (!node || role != Qt::CheckStateRole || !isCheckable(*node))
        return false;
    node->setEnabled(value.value<Qt::CheckState>() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags NodeTreeModel::flags(const QModelIndex &index) const
{
    const Node *node = nodeForIndex(index);
    if (!node)
        return m_validateDrop ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled;
    if (!m_selectable || m_selectable(*node))
        flags |= Qt::ItemIsSelectable;
    if (isCheckable(*node))
        flags |= Qt::ItemIsUserCheckable;
    if (m_validateDrop)
        flags |= Qt::ItemIsDropEnabled;
    if (node->isLeaf())
        flags |= Qt::ItemNeverHasChildren;
    return flags;
}

QStringList NodeTreeModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

Qt::DropActions NodeTreeModel::supportedDropActions() const
{
    return m_validateDrop ? Qt::CopyAction | Qt::MoveAction | Qt::LinkAction : Qt::IgnoreAction;
}

bool NodeTreeModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int, const QModelIndex &) const
{
    // A drop anywhere counts as a drop on the whole list.
    return m_validateDrop && m_validateDrop(data);
}

bool NodeTreeModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                 const QModelIndex &parent)
{
    if (action == Qt::IgnoreAction || !canDropMimeData(data, action, row, column, parent))
        return false;
    return m_acceptDrop && m_acceptDrop(data);
}
