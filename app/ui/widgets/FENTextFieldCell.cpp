#include "FENTextFieldCell.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

namespace
{
// The first count characters, one fewer when the cut would split a surrogate pair.
QString prefixOf(const QString &text, qsizetype count)
{
    if (count > 0 && count < text.size() && text.at(count - 1).isHighSurrogate())
        --count;
    return text.left(count);
}

// The smallest n whose first n characters are at least width wide (text's own width reaches it).
qsizetype prefixLengthReaching(const QString &text, const QFontMetricsF &metrics, double width)
{
    qsizetype low = 0;
    qsizetype high = text.size();
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (metrics.horizontalAdvance(text.left(middle)) >= width)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}
}

void FENTextFieldCell::setObjectValue(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QString>())
        m_stringValue = value.toString();
    if (value.isValid())
        setContent(value);
}

void FENTextFieldCell::setContent(const QVariant &content)
{
    m_content = content;
}

const QVariant &FENTextFieldCell::content() const
{
    return m_content;
}

const QString &FENTextFieldCell::stringValue() const
{
    return m_stringValue;
}

FENTextFieldCell::DrawnText FENTextFieldCell::textToDraw(const QString &stringValue, const QFont &font,
                                                         const QColor &color, bool highlighted, qreal frameWidth)
{
    DrawnText drawn{stringValue, font, color};
    if (stringValue.startsWith(QLatin1Char(':'))) {
        drawn.text = stringValue.mid(1);
        drawn.font = QApplication::font();
        drawn.color = QApplication::palette().color(QPalette::Text);
    }
    if (highlighted)
        drawn.color = Qt::white;

    const QFontMetricsF metrics(drawn.font);
    const float width = float(frameWidth);
    if (float(metrics.horizontalAdvance(drawn.text)) > width) {
        const qsizetype reaching = prefixLengthReaching(drawn.text, metrics, double(width));
        // A cell narrower than three characters shows the ellipsis alone.
        drawn.text = prefixOf(drawn.text, std::max<qsizetype>(reaching - 3, 0)) + QStringLiteral("...");
    }
    return drawn;
}

void FENTextFieldCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem row = option;
    initStyleOption(&row, index);
    const QVariant value = index.data(Qt::DisplayRole);
    const QString text = value.metaType() == QMetaType::fromType<QString>() ? value.toString() : m_stringValue;

    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The row's background, selection and icon; the text is ours.
    row.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &row, painter, widget);
    row.text = text;
    const QRect frame = style->subElementRect(QStyle::SE_ItemViewItemText, &row, widget);
    drawInteriorWithFrame(painter, frame, row, text);
}

void FENTextFieldCell::drawInteriorWithFrame(QPainter *painter, const QRectF &frame, const QStyleOptionViewItem &option,
                                             const QString &stringValue) const
{
    const qreal height = QFontMetricsF(option.font).height();
    const QRectF textFrame(frame.x(), frame.y() + (frame.height() - height) * 0.5, frame.width(), height);
    const DrawnText drawn = textToDraw(stringValue, option.font, option.palette.color(QPalette::Text),
                                       option.state.testFlag(QStyle::State_Selected), frame.width());
    painter->save();
    painter->setFont(drawn.font);
    painter->setPen(drawn.color);
    painter->drawText(textFrame, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, drawn.text);
    painter->restore();
}
