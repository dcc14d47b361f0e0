#include "ArrayController.h"

#include <algorithm>

ArrayController::ArrayController(std::vector<Column> columns, QObject *parent)
    : QAbstractTableModel(parent)
    , m_columns(std::move(columns))
{
}

void ArrayController::setContent(Array content)
{
    beginResetModel();
    m_content = std::move(content);
    endResetModel();
}

int ArrayController::addObject(Value row)
{
    const int at = int(m_content.size());
    beginInsertRows({}, at, at);
    m_content.push_back(std::move(row));
    endInsertRows();
    return at;
}

void ArrayController::removeObjectsAtIndexes(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        if (row < 0 || row >= int(m_content.size()))
            continue;
        beginRemoveRows({}, row, row);
        m_content.erase(m_content.begin() + row);
        endRemoveRows();
    }
}

int ArrayController::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_content.size());
}

int ArrayController::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant ArrayController::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_content.size()) || index.column() >= int(m_columns.size()))
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const Dictionary *row = m_content[std::size_t(index.row())].asDictionary();
    if (!row)
        return {};
    const auto found = row->find(m_columns[std::size_t(index.column())].key);
    if (found == row->end() || !found->second.asString())
        return {};
    return QString::fromStdString(*found->second.asString());
}

QVariant ArrayController::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= int(m_columns.size()))
        return {};
    return m_columns[std::size_t(section)].title;
}

Qt::ItemFlags ArrayController::flags(const QModelIndex &index) const
{
    Qt::ItemFlags itemFlags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() < int(m_columns.size()) && m_columns[std::size_t(index.column())].editable)
        itemFlags |= Qt::ItemIsEditable;
    return itemFlags;
}

bool ArrayController::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable) || index.row() >= int(m_content.size()))
        return false;
    Dictionary *row = m_content[std::size_t(index.row())].asDictionary();
    if (!row)
        return false;
    const std::string &key = m_columns[std::size_t(index.column())].key;
    const std::string text = value.toString().toStdString();
    if (text.empty())
        row->erase(key);
    else
        (*row)[key] = Value(text);
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}
