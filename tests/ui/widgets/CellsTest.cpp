#include "FENTextFieldCell.h"
#include "LineView.h"
#include "SourceNodeTitleCell.h"
#include "SystemColors.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QStandardItemModel>
#include <QTreeView>
#include <gtest/gtest.h>

namespace
{
QFont cellFont()
{
    QFont font = QApplication::font();
    font.setPointSize(font.pointSize() + 6);
    font.setBold(true);
    return font;
}

// The smallest n whose first n characters are at least the width wide, counted from 0 upwards.
qsizetype firstReachingPrefix(const QString &text, const QFont &font, qreal width)
{
    const QFontMetricsF metrics(font);
    qsizetype n = 0;
    while (metrics.horizontalAdvance(text.left(n)) < double(float(width)))
        ++n;
    return n;
}

TEST(FENTextFieldCellTest, CutsATitleTooWideAtItsTailWithThreeFullStops)
{
    const QString title = QStringLiteral("A rather long volume name for a narrow source list");
    const QFontMetricsF metrics(cellFont());
    const qreal width = metrics.horizontalAdvance(title.left(20)) + 0.5;
    const qsizetype n = firstReachingPrefix(title, cellFont(), width);

    const FENTextFieldCell::DrawnText drawn = FENTextFieldCell::textToDraw(title, cellFont(), Qt::black, false, width);
    EXPECT_EQ(drawn.text, title.left(n - 3) + "...");
    EXPECT_EQ(drawn.text.size(), n);
    EXPECT_EQ(drawn.font, cellFont());

    // Exactly as wide as the title: it fits.
    const qreal whole = metrics.horizontalAdvance(title);
    EXPECT_EQ(FENTextFieldCell::textToDraw(title, cellFont(), Qt::black, false, whole).text, title);
}

TEST(FENTextFieldCellTest, AColonAsksForTheDefaultAttributes)
{
    const FENTextFieldCell::DrawnText drawn =
        FENTextFieldCell::textToDraw(QStringLiteral(":Name"), cellFont(), Qt::darkBlue, false, 2000);
    EXPECT_EQ(drawn.text, "Name");
    EXPECT_EQ(drawn.font, QApplication::font());
    EXPECT_EQ(drawn.color, QApplication::palette().color(QPalette::Text));
}

TEST(FENTextFieldCellTest, AHighlightedTitleIsWhiteAlsoWhenCut)
{
    const QString title = QStringLiteral("Highlighted and much too long for its cell");
    EXPECT_EQ(FENTextFieldCell::textToDraw(title, cellFont(), Qt::black, true, 2000).color, QColor(Qt::white));
    const FENTextFieldCell::DrawnText cut = FENTextFieldCell::textToDraw(title, cellFont(), Qt::black, true, 60);
    EXPECT_TRUE(cut.text.endsWith("..."));
    EXPECT_EQ(cut.color, QColor(Qt::white));
    EXPECT_EQ(cut.font, cellFont());
}

TEST(FENTextFieldCellTest, ACellTooNarrowForThreeCharactersShowsTheEllipsisAlone)
{
    for (const qreal width : {0.0, 1.0, 3.0})
        EXPECT_EQ(FENTextFieldCell::textToDraw(QStringLiteral("Wide"), cellFont(), Qt::black, false, width).text, "...")
            << width;
    EXPECT_EQ(FENTextFieldCell::textToDraw(QString(), cellFont(), Qt::black, false, 0).text, "");
}

TEST(FENTextFieldCellTest, NeverCutsACharacterInTwo)
{
    const QString title = QString::fromUtf8("\xF0\x9F\x93\x80\xF0\x9F\x93\x80 disc \xF0\x9F\x93\x80\xF0\x9F\x93\x80"
                                            "\xF0\x9F\x93\x80 burning \xF0\x9F\x93\x80\xF0\x9F\x93\x80");
    const qreal whole = QFontMetricsF(cellFont()).horizontalAdvance(title);
    for (qreal width = 1; width < whole; width += 1) {
        const QString text = FENTextFieldCell::textToDraw(title, cellFont(), Qt::black, false, width).text;
        ASSERT_TRUE(text.endsWith("..."));
        const QString kept = text.chopped(3);
        ASSERT_TRUE(kept.isEmpty() || !kept.back().isHighSurrogate()) << width;
    }
}

TEST(FENTextFieldCellTest, KeepsAnyValueAsContentButShowsOnlyStrings)
{
    FENTextFieldCell cell;
    cell.setObjectValue(QStringLiteral("Disks"));
    cell.setObjectValue(42);
    EXPECT_EQ(cell.stringValue(), "Disks");
    EXPECT_EQ(cell.content(), QVariant(42));
    cell.setObjectValue(QVariant());
    EXPECT_EQ(cell.content(), QVariant(42));
    cell.setObjectValue(QStringLiteral("Folders"));
    EXPECT_EQ(cell.stringValue(), "Folders");
    EXPECT_EQ(cell.content(), QVariant(QStringLiteral("Folders")));
}

// A real outline on the offscreen platform, drawn into an image.
class SourceListTest : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *title : {"-", "Name", "Another"})
            model.appendRow(new QStandardItem(QString::fromLatin1(title)));
        view.setModel(&model);
        view.setHeaderHidden(true);
        view.setRootIsDecorated(false);
        view.setItemDelegate(&cell);
        view.resize(240, 160);
        view.show();
    }

    QImage rowImage(int row)
    {
        const QImage image = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return image.copy(view.visualRect(model.index(row, 0)));
    }

    QStandardItemModel model;
    QTreeView view;
    SourceNodeTitleCell cell;
};

bool rowIsAll(const QImage &image, int y, QRgb colour)
{
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, y) != colour)
            return false;
    }
    return true;
}

TEST_F(SourceListTest, TheDividerIsAOnePointGreyRuleAcrossTheListAndNoText)
{
    const QImage divider = rowImage(0);
    ASSERT_FALSE(divider.isNull());
    const QRgb grey = lightGraySystemColor().rgb();
    const QRgb base = view.palette().color(QPalette::Base).rgb();
    int ruleRows = 0;
    for (int y = 0; y < divider.height(); ++y) {
        if (rowIsAll(divider, y, grey)) {
            ++ruleRows;
            EXPECT_LE(std::abs(2 * y + 1 - divider.height()), 2) << "the rule is centred in its row";
        } else {
            EXPECT_TRUE(rowIsAll(divider, y, base)) << "only the rule is drawn, line " << y;
        }
    }
    EXPECT_EQ(ruleRows, 1);
}

TEST_F(SourceListTest, OtherTitlesAreDrawnAndASelectedOneIsWhite)
{
    const QRgb base = view.palette().color(QPalette::Base).rgb();
    const QImage plain = rowImage(1);
    int inked = 0;
    for (int y = 0; y < plain.height(); ++y)
        inked += rowIsAll(plain, y, base) ? 0 : 1;
    EXPECT_GT(inked, 2);

    view.selectionModel()->select(model.index(2, 0), QItemSelectionModel::Select);
    const QImage selected = rowImage(2);
    int white = 0;
    int textColoured = 0;
    const QRgb text = view.palette().color(QPalette::Text).rgb();
    for (int y = 0; y < selected.height(); ++y) {
        for (int x = 0; x < selected.width(); ++x) {
            const QRgb pixel = selected.pixel(x, y);
            white += qRed(pixel) > 230 && qGreen(pixel) > 230 && qBlue(pixel) > 230 ? 1 : 0;
            textColoured += selected.pixel(x, y) == text ? 1 : 0;
        }
    }
    EXPECT_GT(white, 20);
    EXPECT_EQ(textColoured, 0);
}

TEST(LineViewTest, DrawsOneGreyLineAcrossItsMiddle)
{
    LineView line;
    line.resize(120, 21);
    const QImage image = line.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb grey = lightGraySystemColor().rgb();
    int ruleRows = 0;
    for (int y = 0; y < image.height(); ++y) {
        if (rowIsAll(image, y, grey)) {
            ++ruleRows;
            EXPECT_TRUE(y == 10 || y == 11) << y;
        }
    }
    EXPECT_EQ(ruleRows, 1);
    EXPECT_NE(image.pixel(60, 0), grey);
    EXPECT_NE(image.pixel(60, 20), grey);
}
}
