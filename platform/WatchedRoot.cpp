#include "WatchedRoot.h"

#include <fcntl.h>

#include "ConfinedTree.h"
#include "FolderAndName.h"

std::optional<WatchedRoot> WatchedRoot::at(const std::string &path)
{
    const FileDescriptor folder = ConfinedTree::openResolvedPath(path, O_PATH | O_DIRECTORY);
    if (!folder.isValid())
        return std::nullopt;
    const std::optional<FileIdentity> identity = FileIdentity::of(folder.get());
    if (!identity)
        return std::nullopt;
    return WatchedRoot{std::string(FolderAndName::trimmed(path)), *identity};
}
