#include "DeletionsView.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

DeletionsView::DeletionsView(QWidget *parent)
    : QAbstractItemView(parent)
{
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

int DeletionsView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int DeletionsView::firstShownRow() const
{
    return verticalScrollBar()->value();
}

int DeletionsView::rowHeight() const
{
    if (m_rowHeight == 0) {
        // Every row is as high as a line of text in the delegate's own layout.
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.text = QStringLiteral("Xy");
        option.features |= QStyleOptionViewItem::HasDisplay;
        const QSize cell = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this);
        m_rowHeight = std::max({cell.height(), fontMetrics().height(), 1});
    }
    return m_rowHeight;
}

int DeletionsView::shownRows() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

QModelIndex DeletionsView::indexOfRow(int row) const
{
    return model() && row >= 0 && row < rowCount() ? model()->index(row, 0, rootIndex()) : QModelIndex();
}

QRect DeletionsView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != 0)
        return {};
    // Rows far from the shown ones are placed by their distance, clamped so that it cannot overflow.
    const qint64 top = qint64(index.row() - firstShownRow()) * rowHeight();
    const int clamped = int(std::clamp<qint64>(top, -(1 << 24), 1 << 24));
    return QRect(0, clamped, viewport()->width(), rowHeight());
}

void DeletionsView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    const int row = index.row();
    const int first = firstShownRow();
    const int shown = shownRows();
    int target = first;
    switch (hint) {
    case PositionAtTop:
        target = row;
        break;
    case PositionAtBottom:
        target = row - shown + 1;
        break;
    case PositionAtCenter:
        target = row - shown / 2;
        break;
    case EnsureVisible:
        if (row < first)
            target = row;
        else if (row >= first + shown)
            target = row - shown + 1;
        break;
    }
    verticalScrollBar()->setValue(target);
}

QModelIndex DeletionsView::indexAt(const QPoint &point) const
{
    if (point.y() < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return {};
    return indexOfRow(firstShownRow() + point.y() / rowHeight());
}

QModelIndex DeletionsView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int count = rowCount();
    if (count == 0)
        return {};
    const QModelIndex current = currentIndex();
    const int row = current.isValid() ? current.row() : -1;
    int next = row;
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        next = row - 1;
        break;
    case MoveDown:
    case MoveNext:
        next = row + 1;
        break;
    case MovePageUp:
        next = row - shownRows();
        break;
    case MovePageDown:
        next = row + shownRows();
        break;
    case MoveHome:
        next = 0;
        break;
    case MoveEnd:
        next = count - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return indexOfRow(std::clamp(next, 0, count - 1));
}

int DeletionsView::horizontalOffset() const
{
    return 0;
}

int DeletionsView::verticalOffset() const
{
    return firstShownRow() * rowHeight();
}

bool DeletionsView::isIndexHidden(const QModelIndex &) const
{
    return false;
}

void DeletionsView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    const int count = rowCount();
    if (!selectionModel() || count == 0)
        return;
    const QRect area = rect.normalized();
    const int first = std::clamp(firstShownRow() + std::max(area.top(), 0) / rowHeight(), 0, count - 1);
    const int last = std::clamp(firstShownRow() + std::max(area.bottom(), 0) / rowHeight(), 0, count - 1);
    selectionModel()->select(QItemSelection(indexOfRow(first), indexOfRow(last)), command);
}

QRegion DeletionsView::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    const QRect shown = viewport()->rect();
    for (const QItemSelectionRange &range : selection) {
        if (range.parent() != rootIndex())
            continue;
        const QRect top = visualRect(indexOfRow(range.top()));
        const QRect bottom = visualRect(indexOfRow(range.bottom()));
        region += QRect(top.topLeft(), bottom.bottomRight()).intersected(shown);
    }
    return region;
}

void DeletionsView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State base = option.state;
    const int count = rowCount();
    const int height = rowHeight();
    const int first = firstShownRow() + std::max(event->rect().top(), 0) / height;
    const int last = std::min(count - 1, firstShownRow() + event->rect().bottom() / height);
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = indexOfRow(row);
        option.rect = visualRect(index);
        option.state = base;
        if (selectionModel() && selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (index == currentIndex() && hasFocus())
            option.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

void DeletionsView::updateGeometries()
{
    const int shown = shownRows();
    verticalScrollBar()->setRange(0, std::max(0, rowCount() - shown));
    verticalScrollBar()->setPageStep(shown);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

void DeletionsView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void DeletionsView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    if (start < firstShownRow() + shownRows())
        viewport()->update();
}

void DeletionsView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_rowHeight = 0;
        updateGeometries();
    }
    QAbstractItemView::changeEvent(event);
}
