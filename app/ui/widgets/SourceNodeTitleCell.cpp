#include "SourceNodeTitleCell.h"

#include "SystemColors.h"

#include <QPainter>
#include <QWidget>

void SourceNodeTitleCell::drawInteriorWithFrame(QPainter *painter, const QRectF &frame,
                                                const QStyleOptionViewItem &option, const QString &stringValue) const
{
    if (stringValue != QLatin1String("-")) {
        FENTextFieldCell::drawInteriorWithFrame(painter, frame, option, stringValue);
        return;
    }
    const qreal width = option.widget ? option.widget->width() : 0;
    painter->fillRect(QRectF(0, frame.y() + frame.height() * 0.5, width, 1.0), lightGraySystemColor());
}
