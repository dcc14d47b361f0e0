#pragma once

#include <string>

class Error;

// An error as one system-log line: its domain, code and description.
std::string errorDescription(const Error &error);
