#pragma once

#include "TallowExport.h"

extern "C" {
TALLOW_EXPORT extern const unsigned char TallowVersionString[];
TALLOW_EXPORT extern const double TallowVersionNumber;
}
