#pragma once

#include <string>
#include <vector>

// Lists one directory into complete arrays of regular files and directories, with a buffer
// of its own for each listing, so that a listing may run while another one's results are in use.
class readdirIterator
{
public:
    struct Results
    {
        // Full paths, in the order the file system returned them.
        std::vector<std::string> files;
        std::vector<std::string> directories;
    };

    // Symbolic links, devices, sockets and pipes are left out, as are entries whose type
    // cannot be settled. Never throws: a directory that cannot be opened (a symbolic link
    // among them) gives two empty arrays.
    static Results contentsOfDirectory(const std::string &directory);
    // The same for a folder already open, listed from its start; `directory` is its path, which
    // begins the results' paths.
    static Results contentsOfDirectoryAt(int directoryFd, const std::string &directory);
};
