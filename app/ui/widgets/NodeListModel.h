#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include "Node.h"

// A flat list of nodes shown as a table: each column shows the node property it is bound to
// by name ("title", "column1"). Read-only; replacing the content resets the view.
class NodeListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Column
    {
        QString header;
        QString property;
    };

    explicit NodeListModel(QList<Column> columns, QObject *parent = nullptr);

    const Node::Children &content() const { return m_content; }
    void setContent(Node::Children content);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QList<Column> m_columns;
    Node::Children m_content;
};
