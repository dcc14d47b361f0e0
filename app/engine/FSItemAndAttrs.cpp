#include "FSItemAndAttrs.h"

FSItemAndAttrs FSItemAndAttrs::forEntry(const std::string &directoryPath, std::string name, bool isDirectory)
{
    FSItemAndAttrs item;
    if (!name.empty())
        item.fullPath = directoryPath.ends_with('/') ? directoryPath + name : directoryPath + "/" + name;
    item.name = std::move(name);
    item.isDirectory = isDirectory;
    return item;
}
