#pragma once

#include <QAbstractItemView>

// The progress window's list of deletions: one column of rows of one height, scrolled a row at a
// time. It keeps nothing for each row (a table's header keeps a record per row, which for a clean
// of millions of deletions is megabytes): a row's place follows from its number. Main thread.
class DeletionsView : public QAbstractItemView
{
    Q_OBJECT

public:
    explicit DeletionsView(QWidget *parent = nullptr);

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void paintEvent(QPaintEvent *event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void changeEvent(QEvent *event) override;

private:
    int rowCount() const;
    int firstShownRow() const;
    // Rows that fit in the viewport, at least one.
    int shownRows() const;
    int rowHeight() const;
    QModelIndex indexOfRow(int row) const;

    mutable int m_rowHeight = 0;
};
