#pragma once

#include <string>

#include "Object.h"

// Listens to the log: each new line, with its line feed, on the main thread.
class LogDelegate : public virtual Object
{
public:
    virtual void addToLogString(const std::string &s) = 0;
};
