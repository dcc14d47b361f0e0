#pragma once

#include <memory>

class TWApp;

// The application object, made once, on the display that the environment names (Qt takes no
// options from the command line). When no display can be reached it ends the process with one
// line on standard error and status 1 instead of an abort.
std::unique_ptr<TWApp> makeApplicationOrExplain(char *programName);

// The desktop's answers to what the core asks of a user interface (progress windows, alerts,
// open panels, the keep-clean question, modifier keys) and the mount watcher. Main thread,
// before the interface file loads.
void installUserInterfaceServices();
