#pragma once

#include "FENTextFieldCell.h"

// The source list's title cell: the divider row "-" is a thin grey rule across
// the whole list; every other title is drawn as FENTextFieldCell draws it.
class SourceNodeTitleCell : public FENTextFieldCell
{
    Q_OBJECT

public:
    using FENTextFieldCell::FENTextFieldCell;

protected:
    void drawInteriorWithFrame(QPainter *painter, const QRectF &frame, const QStyleOptionViewItem &option,
                               const QString &stringValue) const override;
};
