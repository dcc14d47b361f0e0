#include "AsAnotherUser.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{
void changeOwner(const std::string &tree, uid_t uid, gid_t gid)
{
    lchown(tree.c_str(), uid, gid);
    std::error_code error;
    for (auto entry = std::filesystem::recursive_directory_iterator(tree, error);
         entry != std::filesystem::recursive_directory_iterator(); entry.increment(error))
        lchown(entry->path().c_str(), uid, gid);
}
}

AsAnotherUser::AsAnotherUser(const std::vector<std::string> &searchable, const std::vector<std::string> &owned)
{
    if (geteuid() != 0)
        return;
    m_active = true;
    for (const std::string &folder : searchable) {
        struct stat status;
        if (stat(folder.c_str(), &status) == 0) {
            m_formerModes.emplace_back(folder, status.st_mode & 07777);
            chmod(folder.c_str(), (status.st_mode & 07777) | 0711);
        }
    }
    m_owned = owned;
    for (const std::string &tree : m_owned)
        changeOwner(tree, nobody, nobody);
    m_formerGroup = getegid();
    // glibc changes the ids of every thread of the process, not only this one's.
    EXPECT_TRUE(setresgid(-1, nobody, -1) == 0 && setresuid(-1, nobody, -1) == 0)
        << "the effective ids could not be changed";
}

AsAnotherUser::~AsAnotherUser()
{
    if (!m_active)
        return;
    const bool userBack = geteuid() == 0 || setresuid(-1, 0, -1) == 0;
    const bool groupBack = getegid() == m_formerGroup || setresgid(-1, m_formerGroup, -1) == 0;
    EXPECT_TRUE(userBack && groupBack) << "the effective ids could not be restored";
    for (const std::string &tree : m_owned)
        changeOwner(tree, 0, 0);
    for (const auto &[folder, mode] : m_formerModes)
        chmod(folder.c_str(), mode);
}
