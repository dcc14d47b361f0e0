#pragma once

#include <QMetaType>
#include <QVariant>

// Shows a path the short way the source list names volumes and folders.
class PathToDisplayNameTransformer
{
public:
    static QMetaType transformedValueClass();
    // The display name of a path string; invalid for anything that is not a string.
    QVariant transformedValue(const QVariant &value) const;
};
