#pragma once

#include <QAbstractTableModel>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The list of deletion lines a progress window shows, one row per line in the order given; the
// window's table has one column, whose role is named messageKey. A clean may delete millions of
// items, so the lines are kept front-coded: lines follow in groups, the first of a group whole
// and each other one as the bytes it shares with the line before it at its start and at its end
// and the bytes between. The lines of one folder differ in a few bytes, and so take a few bytes
// each. Lines handed over are shown in one step at most every showInterval, or at once when
// asked. Main thread only.
class DeletionsLog : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr const char *messageKey = "path";
    static constexpr std::chrono::milliseconds showInterval{250};

    explicit DeletionsLog(QObject *parent = nullptr);
    ~DeletionsLog() override;

    // Appends the lines that are not empty; they show within showInterval.
    void logMsg(const std::vector<std::string> &lines);
    // Shows every line handed over so far.
    void showPendingLines();
    // Removes every line, shown or not.
    void empty();

    // Every line handed over, shown or not.
    std::size_t lineCount() const { return m_lineCount; }
    std::string line(std::size_t index) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    // Where a group of lines begins: its first row and the place of its first line's record. A
    // group never crosses a block, so that its records are read one after the other.
    struct Group
    {
        std::uint32_t firstRow;
        std::uint32_t block;
        std::uint32_t offset;
    };
    // A line longer than this is cut.
    static constexpr std::size_t maxLineLength = (std::size_t(1) << 20) - 1;

    void append(std::string_view text);
    // Room for a record of that size in the last block; a new block (and group) when there is none.
    char *reserve(std::size_t size, bool &newBlock);

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_lastBlockUsed = 0;
    std::size_t m_lastBlockSize = 0;
    std::vector<Group> m_groups;
    std::size_t m_lineCount = 0;
    // The line appended last, which the next one is coded against.
    std::string m_lastLine;
    // The rows the table shows: the first m_shownRows lines.
    std::size_t m_shownRows = 0;
    QTimer m_showTimer;
};
