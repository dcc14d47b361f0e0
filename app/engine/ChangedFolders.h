#pragma once

#include <string>
#include <vector>

// The folders of one batch of changes that lie in one watched root. A batch is cleaned root
// by root: each root opened once, each folder reached beneath it.
struct ChangedFolders
{
    std::string root;
    std::vector<std::string> folders;

    // Each folder goes with the innermost root it lies in (the root itself included); a folder
    // in none is left out. Roots come in the order of their first folder, folders in batch order.
    static std::vector<ChangedFolders> byRoot(const std::vector<std::string> &folders,
                                              const std::vector<std::string> &roots);
};
