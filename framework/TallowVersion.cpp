#include "TallowVersion.h"

// The what-string: two blanks before PROJECT, a newline, then the terminating NUL.
extern "C" {
const unsigned char TallowVersionString[] = "@(#)PROGRAM:Tallow  PROJECT:Tallow-1\n";
const double TallowVersionNumber = 1.0;
}
