#include "KeptFolders.h"

#include <map>
#include <mutex>

#include "FolderAndName.h"

namespace
{
std::mutex keptMutex;
std::map<std::string, FileIdentity> &kept()
{
    static auto *folders = new std::map<std::string, FileIdentity>;
    return *folders;
}
}

void KeptFolders::replace(const std::vector<WatchedRoot> &folders)
{
    std::map<std::string, FileIdentity> replacement;
    for (const WatchedRoot &folder : folders)
        replacement.emplace(folder.path, folder.identity);
    std::lock_guard lock(keptMutex);
    kept() = std::move(replacement);
}

std::optional<FileIdentity> KeptFolders::identityOf(const std::string &path)
{
    const std::string trimmed(FolderAndName::trimmed(path));
    std::lock_guard lock(keptMutex);
    const auto found = kept().find(trimmed);
    return found == kept().end() ? std::nullopt : std::optional<FileIdentity>(found->second);
}
