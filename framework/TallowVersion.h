#pragma once

#include "TallowExport.h"

// The framework's version marks: a what(1) string and a number, kept under their C names
// so that tools reading the library find them.
extern "C" {
TALLOW_EXPORT extern const unsigned char TallowVersionString[];
TALLOW_EXPORT extern const double TallowVersionNumber;
}
