#pragma once

#include <QColor>

// The desktop's light grey for thin rules: two thirds white.
QColor lightGraySystemColor();
