#pragma once

#include <QAbstractItemModel>

#include <functional>

#include "Node.h"

// The content of an outline view: a tree of nodes shown in one column, each row's title with
// its image. The tree controller of the main window's lists: the view asks its hooks which rows
// can be selected, how high a row is, and whether a dragged URL may be dropped.
class NodeTreeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    using NodeTest = std::function<bool(const Node &)>;
    using RowHeight = std::function<int(const Node &)>;
    using DropTest = std::function<bool(const QMimeData *)>;

    explicit NodeTreeModel(QObject *parent = nullptr);

    // The top-level nodes; replacing them resets the view.
    const Node::Children &content() const { return m_content; }
    void setContent(Node::Children content);
    void appendContent(std::shared_ptr<Node> node);

    // Rows for which the test holds show a checkbox bound to the node's enabled flag.
    void setCheckableTest(NodeTest test) { m_checkable = std::move(test); }
    // Rows for which the test holds are group headings, drawn bold.
    void setGroupTest(NodeTest test) { m_group = std::move(test); }
    // A row can be selected when the test holds (every row without one).
    void setSelectableTest(NodeTest test) { m_selectable = std::move(test); }
    // The row's height in pixels; 0 or less keeps the view's own.
    void setRowHeight(RowHeight height) { m_rowHeight = std::move(height); }
    // URL drops: whether the drag may drop, and what dropping it does (true when accepted).
    void setDropHandlers(DropTest validate, DropTest accept);

    Node *nodeForIndex(const QModelIndex &index) const;
    QModelIndex indexForNode(const Node *node) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

private:
    const Node::Children &childrenOf(const QModelIndex &parent) const;
    // The parent of node and node's row under it; false when node is not in the tree.
    bool locate(const Node *node, const Node *&parent, int &row) const;

    Node::Children m_content;
    bool isCheckable(const Node &node) const { return m_checkable && m_checkable(node); }

    NodeTest m_checkable;
    NodeTest m_group;
    NodeTest m_selectable;
    RowHeight m_rowHeight;
    DropTest m_validateDrop;
    DropTest m_acceptDrop;
};
