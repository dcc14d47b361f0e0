#include "DeletionsLog.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace
{
constexpr std::size_t blockSize = 256 * 1024;
constexpr std::size_t groupSize = 16;

// Numbers are kept seven bits a byte, the high bit saying that another byte follows.
std::size_t numberSize(std::size_t number)
{
    std::size_t size = 1;
    for (; number >= 0x80; number >>= 7)
        ++size;
    return size;
}

char *writeNumber(char *at, std::size_t number)
{
    for (; number >= 0x80; number >>= 7)
        *at++ = char((number & 0x7f) | 0x80);
    *at++ = char(number);
    return at;
}

const char *readNumber(const char *at, std::size_t &number)
{
    number = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        number |= std::size_t(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return at;
    }
}

// A line's record: what it shares with the line before it at its start and at its end, and the
// bytes between.
std::size_t recordSize(std::size_t prefix, std::size_t suffix, std::size_t middle)
{
    return numberSize(prefix) + numberSize(suffix) + numberSize(middle) + middle;
}
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
    const std::size_t before = m_lineCount;
    for (const std::string &line : lines) {
        if (!line.empty())
            append(line);
    }
    if (m_lineCount != before && !m_showTimer.isActive())
        m_showTimer.start();
}

char *DeletionsLog::reserve(std::size_t size, bool &newBlock)
{
    newBlock = m_blocks.empty() || m_lastBlockSize - m_lastBlockUsed < size;
    if (newBlock) {
        // A line longer than a block gets a block of its own, which it fills.
        m_lastBlockSize = std::max(blockSize, size);
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(m_lastBlockSize));
        m_lastBlockUsed = 0;
    }
    char *at = m_blocks.back().get() + m_lastBlockUsed;
    m_lastBlockUsed += size;
    return at;
}

void DeletionsLog::append(std::string_view text)
{
    text = text.substr(0, maxLineLength);
    // A new group every groupSize lines bounds the records read to show one line.
    const bool groupFull = m_lineCount % groupSize == 0;
    const std::string_view previous = groupFull ? std::string_view() : std::string_view(m_lastLine);
    std::size_t prefix = 0;
    const std::size_t common = std::min(previous.size(), text.size());
    while (prefix < common && previous[prefix] == text[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < common - prefix && previous[previous.size() - 1 - suffix] == text[text.size() - 1 - suffix])
        ++suffix;
    std::size_t size = recordSize(prefix, suffix, text.size() - prefix - suffix);
    if (m_blocks.empty() || m_lastBlockSize - m_lastBlockUsed < size) {
        // A new block begins a group: its first line is kept whole.
        prefix = suffix = 0;
        size = recordSize(0, 0, text.size());
    }
    bool newBlock = false;
    char *at = reserve(size, newBlock);
    if (newBlock || groupFull)
        m_groups.push_back(Group{std::uint32_t(m_lineCount), std::uint32_t(m_blocks.size() - 1),
                                 std::uint32_t(at - m_blocks.back().get())});
    const std::size_t middle = text.size() - prefix - suffix;
    at = writeNumber(at, prefix);
    at = writeNumber(at, suffix);
    at = writeNumber(at, middle);
    std::memcpy(at, text.data() + prefix, middle);
    m_lastLine.assign(text);
    ++m_lineCount;
}

void DeletionsLog::showPendingLines()
{
    m_showTimer.stop();
    // A table model counts its rows in int.
    const std::size_t shown = std::min<std::size_t>(m_lineCount, std::numeric_limits<int>::max());
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
    std::vector<Group>().swap(m_groups);
    std::vector<std::unique_ptr<char[]>>().swap(m_blocks);
    std::string().swap(m_lastLine);
    m_lastBlockUsed = 0;
    m_lastBlockSize = 0;
    m_lineCount = 0;
    m_shownRows = 0;
    if (hadRows)
        endResetModel();
}

std::string DeletionsLog::line(std::size_t index) const
{
    if (index >= m_lineCount)
        throw std::out_of_range("DeletionsLog::line");
    const auto group = std::prev(std::upper_bound(m_groups.begin(), m_groups.end(), index,
                                                  [](std::size_t row, const Group &g) { return row < g.firstRow; }));
    const char *at = m_blocks[group->block].get() + group->offset;
    std::string text, next;
    for (std::size_t row = group->firstRow; row <= index; ++row) {
        std::size_t prefix = 0, suffix = 0, middle = 0;
        at = readNumber(at, prefix);
        at = readNumber(at, suffix);
        at = readNumber(at, middle);
        next.assign(text, 0, prefix);
        next.append(at, middle);
        next.append(text, text.size() - suffix, suffix);
        at += middle;
        text.swap(next);
    }
    return text;
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
    const std::string text = line(std::size_t(index.row()));
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QHash<int, QByteArray> DeletionsLog::roleNames() const
{
    return {{Qt::DisplayRole, messageKey}};
}
