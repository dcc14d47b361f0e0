#pragma once

#include <QAbstractTableModel>

#include <cstdint>
#include <string>
#include <vector>

#include "Value.h"

// The list of deletion lines a progress window shows. Each arranged object is a
// dictionary with one entry, messageKey mapped to one line; the window's table has
// one column showing that value. Main thread only.
class DeletionsLog : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit DeletionsLog(QObject *parent = nullptr);

    const std::string messageKey = "path";

    // Appends the line in a later main-queue step; an empty line is ignored. A line
    // still waiting when the list is emptied is dropped with the rest.
    void logMsg(const std::string &line);
    // Removes all arranged objects.
    void empty();

    const std::vector<Dictionary> &arrangedObjects() const { return m_arrangedObjects; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    void addObject(Dictionary object);

    std::vector<Dictionary> m_arrangedObjects;
    // Counts the times the list was emptied, so that lines meant for the old list stay out.
    std::uint64_t m_generation = 0;
};
