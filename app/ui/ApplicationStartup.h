#pragma once

#include <string>
#include <vector>

// The paths named on the command line, made absolute against the current folder. Arguments
// beginning with "-" are options (Qt's, with their values) unless they follow "--".
std::vector<std::string> commandLinePaths(int argc, char **argv);

// Everything the running instance sets up once its application object exists. Main thread.
void startApplication();

// Paths handed to the running instance, by another start or by its own command line; no
// paths asks it to show itself. Main thread.
void handleHandedOverPaths(const std::vector<std::string> &paths);
