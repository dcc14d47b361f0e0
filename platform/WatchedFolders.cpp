#include "WatchedFolders.h"

#include <algorithm>
#include <stdexcept>

namespace
{
// Names that died are dropped from the block once they are this many bytes and half of it.
constexpr std::size_t compactionThreshold = 64 * 1024;

void appendName(std::string &path, std::string_view name)
{
    if (path != "/")
        path += '/';
    path += name;
}
}

void WatchedFolders::add(int wd, int parent, std::string_view name, dev_t device)
{
    if (name.size() > UINT16_MAX)
        throw std::length_error("a watched folder's name is too long");
    const auto knownDevice = std::find(m_devices.begin(), m_devices.end(), device);
    const auto deviceIndex = std::uint16_t(knownDevice - m_devices.begin());
    if (knownDevice == m_devices.end())
        m_devices.push_back(device);
    Folder record{parent, none, none, none, 0, 0, deviceIndex};
    storeName(record, name);
    if (parent == none) {
        m_tops[std::string(name)] = wd;
    } else {
        Folder &holder = m_folders.at(parent);
        record.nextSibling = holder.firstChild;
        if (holder.firstChild != none)
            m_folders.at(holder.firstChild).previousSibling = wd;
        holder.firstChild = wd;
    }
    m_folders.emplace(wd, record);
}

void WatchedFolders::remove(int wd)
{
    const auto found = m_folders.find(wd);
    if (found == m_folders.end())
        return;
    Folder &record = found->second;
    // The folders it held keep their paths as tops.
    while (record.firstChild != none) {
        const int child = record.firstChild;
        const std::string childPath = path(child);
        Folder &held = m_folders.at(child);
        unlinkFromParent(held);
        m_deadNameBytes += held.nameLength;
        storeName(held, childPath);
        held.parent = none;
        m_tops[childPath] = child;
    }
    unlinkFromParent(record);
    if (record.parent == none) {
        const auto top = m_tops.find(std::string(nameOf(record)));
        if (top != m_tops.end() && top->second == wd)
            m_tops.erase(top);
    }
    m_deadNameBytes += record.nameLength;
    m_folders.erase(found);
    if (m_cachedWd == wd)
        m_cachedWd = none;
    if (m_deadNameBytes >= compactionThreshold && 2 * m_deadNameBytes >= m_names.size())
        compactNames();
}

int WatchedFolders::parent(int wd) const
{
    return folder(wd).parent;
}

dev_t WatchedFolders::device(int wd) const
{
    return m_devices[folder(wd).deviceIndex];
}

std::string WatchedFolders::path(int wd) const
{
    if (wd == m_cachedWd)
        return m_cachedPath;
    std::vector<const Folder *> chain;
    for (const Folder *at = &folder(wd);; at = &folder(at->parent)) {
        chain.push_back(at);
        if (at->parent == none)
            break;
    }
    std::string built(nameOf(*chain.back()));
    for (auto at = chain.rbegin() + 1; at != chain.rend(); ++at)
        appendName(built, nameOf(**at));
    m_cachedWd = wd;
    m_cachedPath = built;
    return built;
}

int WatchedFolders::childNamed(int wd, std::string_view name) const
{
    for (int child = folder(wd).firstChild; child != none;) {
        const Folder &held = folder(child);
        if (nameOf(held) == name)
            return child;
        child = held.nextSibling;
    }
    return none;
}

int WatchedFolders::topAt(const std::string &path) const
{
    const auto found = m_tops.find(path);
    return found == m_tops.end() ? none : found->second;
}

std::vector<int> WatchedFolders::topsBelow(const std::string &path) const
{
    const std::string prefix = path == "/" ? path : path + "/";
    std::vector<int> below;
    for (auto top = m_tops.lower_bound(prefix); top != m_tops.end() && top->first.starts_with(prefix); ++top) {
        if (top->first != path)
            below.push_back(top->second);
    }
    return below;
}

void WatchedFolders::visit(int top,
                           const std::function<void(int wd, std::size_t depth, const std::string &path)> &visitor) const
{
    // Each step holds the folder and the length of its holder's path.
    struct Step
    {
        int wd;
        std::size_t depth;
        std::size_t holderPathLength;
    };
    std::string path = this->path(top);
    std::vector<Step> pending{{top, 0, 0}};
    while (!pending.empty()) {
        const Step step = pending.back();
        pending.pop_back();
        const Folder &record = folder(step.wd);
        if (step.depth > 0) {
            path.resize(step.holderPathLength);
            appendName(path, nameOf(record));
        }
        visitor(step.wd, step.depth, path);
        for (int child = record.firstChild; child != none; child = folder(child).nextSibling)
            pending.push_back({child, step.depth + 1, path.size()});
    }
}

void WatchedFolders::visitAll(
    const std::function<void(int wd, std::size_t depth, const std::string &path)> &visitor) const
{
    for (const auto &[path, top] : m_tops)
        visit(top, visitor);
}

void WatchedFolders::storeName(Folder &record, std::string_view name)
{
    record.nameOffset = std::uint32_t(m_names.size());
    record.nameLength = std::uint16_t(name.size());
    m_names.append(name);
}

void WatchedFolders::unlinkFromParent(Folder &record)
{
    if (record.previousSibling != none)
        m_folders.at(record.previousSibling).nextSibling = record.nextSibling;
    else if (record.parent != none)
        m_folders.at(record.parent).firstChild = record.nextSibling;
    if (record.nextSibling != none)
        m_folders.at(record.nextSibling).previousSibling = record.previousSibling;
    record.previousSibling = none;
    record.nextSibling = none;
}

void WatchedFolders::compactNames()
{
    std::string names;
    names.reserve(m_names.size() - m_deadNameBytes);
    for (auto &[wd, record] : m_folders) {
        const std::string_view name = nameOf(record);
        record.nameOffset = std::uint32_t(names.size());
        names.append(name);
    }
    m_names = std::move(names);
    m_deadNameBytes = 0;
}
