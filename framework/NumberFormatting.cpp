#include "NumberFormatting.h"

#include <QLocale>
#include <QString>

std::string NumberFormatter::decimal(std::int64_t number)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(static_cast<qlonglong>(number)).toStdString();
}
