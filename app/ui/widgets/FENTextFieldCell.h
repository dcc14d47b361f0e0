#pragma once

#include <QColor>
#include <QFont>
#include <QStyledItemDelegate>
#include <QVariant>

// The source list's text cell: the title is centred vertically, a leading ":"
// asks for plain text in the default attributes, a selected row draws white,
// and a title too wide for the cell is cut at its tail with "...".
class FENTextFieldCell : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // The text as drawn, with its one set of attributes.
    struct DrawnText
    {
        QString text;
        QFont font;
        QColor color;
    };

    using QStyledItemDelegate::QStyledItemDelegate;

    // A string becomes the displayed text; any other value leaves it as it was.
    // A valid value of any kind is kept as the content.
    void setObjectValue(const QVariant &value);
    void setContent(const QVariant &content);
    const QVariant &content() const;
    const QString &stringValue() const;

    static DrawnText textToDraw(const QString &stringValue, const QFont &font, const QColor &color, bool highlighted,
                                qreal frameWidth);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    // Draws the cell's text in the frame; option describes the row.
    virtual void drawInteriorWithFrame(QPainter *painter, const QRectF &frame, const QStyleOptionViewItem &option,
                                       const QString &stringValue) const;

private:
    QString m_stringValue;
    QVariant m_content;
};
