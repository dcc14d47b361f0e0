#pragma once

#include <QAbstractTableModel>

#include <string>
#include <vector>

#include "Value.h"

// Rows of a table kept as an array of dictionaries: each column shows one key of the row's
// dictionary. Edits go straight into the dictionaries; an edit that empties a value removes its key.
class ArrayController : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Column
    {
        std::string key;
        QString title;
        bool editable = false;
    };

    explicit ArrayController(std::vector<Column> columns, QObject *parent = nullptr);

    const Array &content() const { return m_content; }
    void setContent(Array content);
    // Appends the row; answers its index.
    int addObject(Value row);
    // Removes the rows at the given indexes (in any order, duplicates allowed).
    void removeObjectsAtIndexes(std::vector<int> rows);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

private:
    std::vector<Column> m_columns;
    Array m_content;
};
