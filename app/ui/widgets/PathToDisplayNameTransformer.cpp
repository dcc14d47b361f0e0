#include "PathToDisplayNameTransformer.h"

#include "TWVolumeInfo.h"

#include <QString>

QMetaType PathToDisplayNameTransformer::transformedValueClass()
{
    return QMetaType::fromType<QString>();
}

QVariant PathToDisplayNameTransformer::transformedValue(const QVariant &value) const
{
    if (value.metaType() != QMetaType::fromType<QString>())
        return {};
    return QString::fromStdString(TWPathDisplayName(value.toString().toStdString()));
}
