#pragma once

#include <string>

// Creates a folder and any missing folders above it with mode 0700, private to the user as the
// XDG rules ask. True when the folder exists afterwards; else false with errno set.
bool makePrivateFolders(const std::string &folder);
