#include "DeletionsLog.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
constexpr std::size_t blockSize = 256 * 1024;
}

DeletionsLog::DeletionsLog(QObject *parent)
    : QAbstractTableModel(parent)
{
    m_showTimer.setSingleShot(true);
    m_showTimer.setInterval(showInterval);
    connect(&m_showTimer, &QTimer::timeout, this, &DeletionsLog::showPendingLines);
}

DeletionsLog::~DeletionsLog() = default;

void DeletionsLog::logMsg(const std::vector<std::string> &lines)
{
    const std::size_t before = m_rows.size();
    for (const std::string &line : lines) {
        if (!line.empty())
            append(line);
    }
    if (m_rows.size() != before && !m_showTimer.isActive())
        m_showTimer.start();
}

void DeletionsLog::append(std::string_view text)
{
    text = text.substr(0, maxLineLength);
    if (m_blocks.empty() || m_lastBlockSize - m_lastBlockUsed < text.size()) {
        // A line longer than a block gets a block of its own, which it fills.
        m_lastBlockSize = std::max(blockSize, text.size());
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(m_lastBlockSize));
        m_lastBlockUsed = 0;
    }
    std::memcpy(m_blocks.back().get() + m_lastBlockUsed, text.data(), text.size());
    m_rows.push_back(Row{m_blocks.size() - 1, m_lastBlockUsed, text.size()});
    m_lastBlockUsed += text.size();
}

void DeletionsLog::showPendingLines()
{
    m_showTimer.stop();
    // A table model counts its rows in int.
    const std::size_t shown = std::min<std::size_t>(m_rows.size(), std::numeric_limits<int>::max());
    if (shown == m_shownRows)
        return;
    beginInsertRows(QModelIndex(), int(m_shownRows), int(shown - 1));
    m_shownRows = shown;
    endInsertRows();
}

void DeletionsLog::empty()
{
    m_showTimer.stop();
    const bool hadRows = m_shownRows != 0;
    if (hadRows)
        beginResetModel();
    // A window taken over by the next clean gives the old list's memory back.
    std::vector<Row>().swap(m_rows);
    std::vector<std::unique_ptr<char[]>>().swap(m_blocks);
    m_lastBlockUsed = 0;
    m_lastBlockSize = 0;
    m_shownRows = 0;
    if (hadRows)
        endResetModel();
}

std::string_view DeletionsLog::line(std::size_t index) const
{
    const Row &row = m_rows.at(index);
    return std::string_view(m_blocks[row.block].get() + row.offset, row.length);
}

int DeletionsLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_shownRows);
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
    const std::string_view text = line(std::size_t(index.row()));
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QHash<int, QByteArray> DeletionsLog::roleNames() const
{
    return {{Qt::DisplayRole, messageKey}};
}
