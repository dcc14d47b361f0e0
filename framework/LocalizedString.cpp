#include "LocalizedString.h"

#include <QCoreApplication>
#include <QString>

std::string LSFK(const std::string &key, const std::string & /*comment*/)
{
    return QCoreApplication::translate(LocalizedStringTable, key.c_str()).toStdString();
}

void debugLog(const std::string & /*message*/)
{
}
