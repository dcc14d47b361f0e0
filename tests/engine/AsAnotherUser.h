#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

// For a test run as root: the whole process, every thread of it, acts as another user (its
// effective user and group ids) while the object lives, so that file permissions apply to it.
// The folders named searchable may be searched by anyone meanwhile; the trees named owned
// belong to that user meanwhile. Does nothing when the test does not run as root.
class AsAnotherUser
{
public:
    static constexpr uid_t nobody = 65534;

    AsAnotherUser(const std::vector<std::string> &searchable, const std::vector<std::string> &owned);
    ~AsAnotherUser();
    AsAnotherUser(const AsAnotherUser &) = delete;
    AsAnotherUser &operator=(const AsAnotherUser &) = delete;

private:
    bool m_active = false;
    gid_t m_formerGroup = 0;
    std::vector<std::pair<std::string, mode_t>> m_formerModes;
    std::vector<std::string> m_owned;
};
