#include "LineView.h"

#include "SystemColors.h"

#include <QPainter>

LineView::LineView(QWidget *parent) : QWidget(parent) {}

void LineView::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    const QRectF bounds = rect();
    painter.fillRect(QRectF(bounds.x(), bounds.y() + bounds.height() * 0.5, bounds.width(), 1.0),
                     lightGraySystemColor());
}
