#include "TallowVersion.h"

// The what-string: two blanks before PROJECT, a newline, then the terminating NUL.
extern "C" {
TALLOW_EXPORT const unsigned char TallowVersionString[] = "@(#)PROGRAM:Tallow  PROJECT:Tallow-1\n";
TALLOW_EXPORT const double TallowVersionNumber = 1.0;
}
