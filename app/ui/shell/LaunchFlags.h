#pragma once

// What the start found about this build, set once before any window exists (main thread).
namespace LaunchFlags
{
// The user defaults held no build number at start.
extern bool newInstall;
// The stored build number differed from this build's (also true on a first install).
extern bool newVersionInstall;
// The first-launch help was already scheduled.
extern bool newInstallHasShownHelp;
}
