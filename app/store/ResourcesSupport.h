#pragma once

#include <optional>
#include <string>

#include "Value.h"

class Bundle;

// Lookup of resources in the application bundle.
class ResourcesSupport
{
public:
    static Bundle &currentBundle();
    // The path of the resource of that full name; nullopt when absent.
    static std::optional<std::string> pathForResourceWithName(const std::string &name);
    // An empty dictionary when there is no such resource; nullopt when the file exists but
    // cannot be read as a dictionary.
    static std::optional<Dictionary> dictionaryWithName(const std::string &name);
};
