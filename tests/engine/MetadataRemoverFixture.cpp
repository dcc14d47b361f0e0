#include "MetadataRemoverFixture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/xattr.h>

#include "ConfinedTree.h"
#include "TestSupport.h"

MetadataRemoverFixture::MetadataRemoverFixture()
    : m_folder(m_environment.volume("STICK") + "/Docs")
{
    std::filesystem::create_directories(m_folder);
    m_remover.setOwner(m_owner);
    m_remover.setTree(ConfinedTree::openResolved(m_folder));
}

std::string MetadataRemoverFixture::file(const std::string &relative, const std::string &contents)
{
    const std::string full = path(relative);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    writeFile(full, contents);
    return full;
}

std::string MetadataRemoverFixture::folder(const std::string &relative)
{
    std::filesystem::create_directories(path(relative));
    return path(relative);
}

URL MetadataRemoverFixture::url(const std::string &relative) const
{
    return URL::fileURLWithPath(path(relative));
}

std::int64_t MetadataRemoverFixture::statisticsCount()
{
    const auto statistics = m_statistics->volumeItemFor(URL::fileURLWithPath(m_folder));
    return statistics ? statistics->numberOfItemsDeleted() : -1;
}

bool MetadataRemoverFixture::statisticsReach(std::int64_t count)
{
    const bool reached = runEventLoopUntil([&] { return statisticsCount() >= count; });
    runEventLoopFor(std::chrono::milliseconds(20));
    return reached && statisticsCount() == count;
}

std::map<std::string, std::string> MetadataRemoverFixture::snapshot(const std::string &folder)
{
    std::map<std::string, std::string> entries;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string itemPath = entry.path().string();
        std::string description;
        if (entry.is_symlink())
            description = "link to " + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            description = "folder";
        else
            description = "file " + readFile(itemPath);
        for (const std::string &name : attributeNamesOf(itemPath)) {
            std::string value(4096, '\0');
            const ssize_t size = lgetxattr(itemPath.c_str(), name.c_str(), value.data(), value.size());
            value.resize(size < 0 ? 0 : std::size_t(size));
            description += "\n" + name + "=" + value;
        }
        entries[itemPath] = description;
    }
    return entries;
}

void setAttribute(const std::string &path, const std::string &name, const std::string &value)
{
    ASSERT_EQ(lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0)
        << name << ": " << std::strerror(errno);
}

std::vector<std::string> attributeNamesOf(const std::string &path)
{
    std::string list(65536, '\0');
    const ssize_t size = llistxattr(path.c_str(), list.data(), list.size());
    std::vector<std::string> names;
    for (std::size_t at = 0; size > 0 && at < std::size_t(size); at = list.find('\0', at) + 1)
        names.emplace_back(list.c_str() + at);
    std::sort(names.begin(), names.end());
    return names;
}

bool keepsUserAttributes(const std::string &folder)
{
    const std::string probe = folder + "/.attribute-probe";
    writeFile(probe, "");
    const bool keeps = lsetxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
    std::filesystem::remove(probe);
    return keeps;
}
