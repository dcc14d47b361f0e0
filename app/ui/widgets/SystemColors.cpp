#include "SystemColors.h"

QColor lightGraySystemColor()
{
    return QColor::fromRgbF(2.0f / 3.0f, 2.0f / 3.0f, 2.0f / 3.0f);
}
