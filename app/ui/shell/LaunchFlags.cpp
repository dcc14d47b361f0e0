#include "LaunchFlags.h"

namespace LaunchFlags
{
bool newInstall = false;
bool newVersionInstall = false;
bool newInstallHasShownHelp = false;
}
