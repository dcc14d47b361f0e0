#pragma once

#include <QIcon>
#include <QString>

// A row of a list of the Advanced sheet's pages.
struct AdvancedTabTableControllerItem
{
    QString displayName;
    QIcon image;
    QString uniqueId;
};
