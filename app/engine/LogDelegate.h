#pragma once

#include <string>

#include "Object.h"

// Listens to the log: the new lines, each with its line feed (several at once when they were
// logged together), on the main thread.
class LogDelegate : public virtual Object
{
public:
    virtual void addToLogString(const std::string &s) = 0;
};
