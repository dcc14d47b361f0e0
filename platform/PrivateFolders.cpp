#include "PrivateFolders.h"

#include <cerrno>
#include <sys/stat.h>

#include "FolderAndName.h"

bool makePrivateFolders(const std::string &folder)
{
    struct stat status {};
    if (stat(folder.c_str(), &status) == 0)
        return true;
    const std::string parent = FolderAndName::of(folder).folder;
    if (parent != folder && !makePrivateFolders(parent))
        return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}
