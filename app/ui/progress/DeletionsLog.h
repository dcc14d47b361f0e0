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
// items, so the lines are kept compactly: their text in large blocks, each row a block, an offset
// and a length packed in eight bytes. Lines handed over are shown in one step at most every showInterval, or at once
// when asked. Main thread only.
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
    std::size_t lineCount() const { return m_rows.size(); }
    std::string_view line(std::size_t index) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    // Eight bytes a row: a line's block, its offset in the block and its length. A line never
    // crosses a block, so the offset fits the block size; a line longer than maxLineLength is cut.
    struct Row
    {
        std::uint64_t block : 26;
        std::uint64_t offset : 18;
        std::uint64_t length : 20;
    };
    static_assert(sizeof(Row) == 8);
    static constexpr std::size_t maxLineLength = (std::size_t(1) << 20) - 1;

    void append(std::string_view text);

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_lastBlockUsed = 0;
    std::size_t m_lastBlockSize = 0;
    std::vector<Row> m_rows;
    // The rows the table shows: the first m_shownRows of m_rows.
    std::size_t m_shownRows = 0;
    QTimer m_showTimer;
};
