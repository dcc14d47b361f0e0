#pragma once

#include <optional>
#include <string>

// One entry of a bulk directory listing.
struct FSItemAndAttrs
{
    // The entry of the listed directory with the given name; no full path when no name came back.
    static FSItemAndAttrs forEntry(const std::string &directoryPath, std::string name, bool isDirectory);

    // The listed directory's path, "/" and the entry name.
    std::optional<std::string> fullPath;
    // The name's bytes, as the file system keeps them.
    std::string name;
    // Symbolic links, even to directories, are not directories.
    bool isDirectory = false;

    bool operator==(const FSItemAndAttrs &) const = default;
};
