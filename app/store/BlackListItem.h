#pragma once

#include <string>

// A black-listed file or folder name, with the unique key of the option item that holds it.
struct BlackListItem
{
    std::string uniqueKey;
    std::string name;

    bool operator==(const BlackListItem &) const = default;
};
