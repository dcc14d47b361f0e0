#include <QLocale>

#include <gtest/gtest.h>

#include "NumberFormatting.h"

TEST(NumberFormatting, DecimalGroupsInTheLocaleStyle)
{
    const QLocale saved;
    const auto decimalIn = [](const QLocale &locale, std::int64_t number) {
        QLocale::setDefault(locale);
        return NumberFormatter::decimal(number);
    };
    EXPECT_EQ(decimalIn(QLocale(QLocale::English, QLocale::UnitedStates), 1234567), "1,234,567");
    EXPECT_EQ(decimalIn(QLocale(QLocale::German, QLocale::Germany), -1234567), "-1.234.567");
    // The C locale (a "C.UTF-8" session) leaves out grouping unless asked for it.
    EXPECT_EQ(decimalIn(QLocale::c(), 1234567), "1,234,567");
    QLocale::setDefault(saved);
}
