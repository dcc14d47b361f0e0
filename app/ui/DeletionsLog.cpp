#include "DeletionsLog.h"

#include <QPointer>

#include "GCDAdditions.h"

DeletionsLog::DeletionsLog(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void DeletionsLog::logMsg(const std::string &line)
{
    if (line.empty())
        return;
    QPointer<DeletionsLog> self(this);
    GCDAdditions::onMain([self, generation = m_generation, object = Dictionary{{messageKey, Value(line)}}]() mutable {
        DeletionsLog *log = self.data();
        if (log && log->m_generation == generation)
            log->addObject(std::move(object));
    });
}

void DeletionsLog::empty()
{
    ++m_generation;
    if (m_arrangedObjects.empty())
        return;
    beginResetModel();
    m_arrangedObjects.clear();
    endResetModel();
}

void DeletionsLog::addObject(Dictionary object)
{
    const int row = int(m_arrangedObjects.size());
    beginInsertRows(QModelIndex(), row, row);
    m_arrangedObjects.push_back(std::move(object));
    endInsertRows();
}

int DeletionsLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_arrangedObjects.size());
}

int DeletionsLog::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant DeletionsLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() != 0 || index.row() >= rowCount())
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const Dictionary &object = m_arrangedObjects[std::size_t(index.row())];
    const auto found = object.find(messageKey);
    if (found == object.end())
        return {};
    const std::string *line = found->second.asString();
    return line ? QVariant(QString::fromStdString(*line)) : QVariant();
}
