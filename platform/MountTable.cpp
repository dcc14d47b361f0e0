#include "MountTable.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <fstream>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{
std::mutex &sourceMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const MountInfoSource> &sourceSlot()
{
    static std::shared_ptr<const MountInfoSource> slot;
    return slot;
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t position = 0;
    while (position < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', position);
        if (start == std::string_view::npos)
            break;
        std::size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        fields.push_back(line.substr(start, end - start));
        position = end;
    }
    return fields;
}

// Digits only; a number too large for the field makes the line unparsable.
template<typename Number>
bool parseNumber(std::string_view text, Number &out)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

std::optional<MountEntry> parseLine(std::string_view line)
{
    const std::vector<std::string_view> fields = splitFields(line);
    // Six fixed fields, optional fields, the "-" separator, then type, source and super options.
    if (fields.size() < 10)
        return std::nullopt;
    const auto separator = std::find(fields.begin() + 6, fields.end(), std::string_view("-"));
    if (fields.end() - separator < 4)
        return std::nullopt;

    MountEntry entry;
    const std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    if (!parseNumber(fields[0], entry.mountId) || !parseNumber(fields[1], entry.parentId)
        || colon == std::string_view::npos || !parseNumber(device.substr(0, colon), entry.major)
        || !parseNumber(device.substr(colon + 1), entry.minor))
        return std::nullopt;
    entry.root = MountTable::unescape(fields[3]);
    entry.mountPoint = MountTable::unescape(fields[4]);
    entry.mountOptions = std::string(fields[5]);
    for (auto it = fields.begin() + 6; it != separator; ++it)
        entry.optionalFields.emplace_back(*it);
    entry.fileSystemType = MountTable::unescape(separator[1]);
    entry.source = MountTable::unescape(separator[2]);
    entry.superOptions = MountTable::unescape(separator[3]);
    if (entry.mountPoint.empty() || entry.mountPoint.front() != '/')
        return std::nullopt;
    return entry;
}

// A mount is hidden when a later mount on the same parent covers its mount point or a
// folder above it; a mount with another mount stacked right on it is replaced by that one.
std::vector<MountEntry> visibleEntries(std::vector<MountEntry> all)
{
    const std::size_t count = all.size();
    std::unordered_map<int, std::size_t> indexOfId;
    std::unordered_map<int, std::vector<std::size_t>> childrenOf;
    for (std::size_t i = 0; i < count; ++i) {
        indexOfId.emplace(all[i].mountId, i);
        childrenOf[all[i].parentId].push_back(i);
    }

    std::vector<bool> hidden(count, false);
    std::vector<bool> replaced(count, false);
    for (const auto &[parentId, siblings] : childrenOf) {
        for (std::size_t a = 0; a < siblings.size(); ++a) {
            for (std::size_t b = a + 1; b < siblings.size(); ++b) {
                if (pathHasComponentPrefix(all[siblings[a]].mountPoint, all[siblings[b]].mountPoint))
                    hidden[siblings[a]] = true;
            }
        }
        const auto parent = indexOfId.find(parentId);
        if (parent == indexOfId.end())
            continue;
        for (const std::size_t child : siblings) {
            if (child != parent->second && all[child].mountPoint == all[parent->second].mountPoint)
                replaced[parent->second] = true;
        }
    }

    // Whatever hangs below a hidden mount is hidden with it.
    std::vector<int> state(count, 0); // 0 unknown, 1 visible, 2 hidden
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<std::size_t> chain;
        std::size_t current = i;
        while (state[current] == 0 && !hidden[current]) {
            state[current] = 1; // provisional: also ends a loop in broken parent links
            chain.push_back(current);
            const auto parent = indexOfId.find(all[current].parentId);
            if (parent == indexOfId.end() || parent->second == current)
                break;
            current = parent->second;
        }
        if (hidden[current] || state[current] == 2) {
            state[current] = 2;
            for (const std::size_t member : chain)
                state[member] = 2;
        }
    }
    for (std::size_t i = 0; i < count; ++i)
        hidden[i] = state[i] == 2;

    // Whatever the parent links say, the last entry for a mount point wins.
    std::unordered_map<std::string, std::size_t> lastForMountPoint;
    for (std::size_t i = 0; i < count; ++i) {
        if (!hidden[i] && !replaced[i])
            lastForMountPoint[all[i].mountPoint] = i;
    }
    std::vector<MountEntry> visible;
    for (std::size_t i = 0; i < count; ++i) {
        const auto last = lastForMountPoint.find(all[i].mountPoint);
        if (last != lastForMountPoint.end() && last->second == i)
            visible.push_back(std::move(all[i]));
    }
    return visible;
}
}

bool MountEntry::isReadOnly() const
{
    std::string_view options = mountOptions;
    while (!options.empty()) {
        const std::size_t comma = options.find(',');
        if (options.substr(0, comma) == "ro")
            return true;
        if (comma == std::string_view::npos)
            break;
        options.remove_prefix(comma + 1);
    }
    return false;
}

std::uint64_t MountInfoSource::generation() const
{
    static std::atomic<std::uint64_t> fresh{0};
    return ++fresh;
}

ProcMountInfoSource::ProcMountInfoSource(std::string path)
    : m_path(std::move(path)), m_watch(::open(m_path.c_str(), O_RDONLY | O_CLOEXEC))
{
}

ProcMountInfoSource::~ProcMountInfoSource()
{
    if (m_watch >= 0)
        ::close(m_watch);
}

std::uint64_t ProcMountInfoSource::generation() const
{
    std::lock_guard lock(m_watchMutex);
    if (m_watch < 0)
        return MountInfoSource::generation();
    pollfd watch{m_watch, POLLPRI, 0};
    if (::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLPRI | POLLERR))) {
        // Reading the table through the watching descriptor clears the flag.
        char buffer[65536];
        ::lseek(m_watch, 0, SEEK_SET);
        while (::read(m_watch, buffer, sizeof buffer) > 0) {
        }
        ++m_generation;
    }
    return m_generation;
}

std::optional<std::string> ProcMountInfoSource::read() const
{
    std::ifstream in(m_path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return text.str();
}

ScriptedMountInfoSource::ScriptedMountInfoSource(std::string text)
    : m_text(std::move(text))
{
}

void ScriptedMountInfoSource::setText(std::string text)
{
    std::lock_guard lock(m_mutex);
    m_text = std::move(text);
    ++m_generation;
}

std::uint64_t ScriptedMountInfoSource::generation() const
{
    std::lock_guard lock(m_mutex);
    return m_generation;
}

std::optional<std::string> ScriptedMountInfoSource::read() const
{
    std::lock_guard lock(m_mutex);
    return m_text;
}

MountTable::MountTable(std::vector<MountEntry> entries)
    : m_entries(std::move(entries))
{
}

MountTable MountTable::parse(std::string_view text)
{
    std::vector<MountEntry> entries;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        if (auto entry = parseLine(text.substr(0, newline)))
            entries.push_back(std::move(*entry));
        if (newline == std::string_view::npos)
            break;
        text.remove_prefix(newline + 1);
    }
    return MountTable(visibleEntries(std::move(entries)));
}

// The table is parsed again only when its source says it may have changed:
// cleaning asks for it for every item it deletes.
MountTable::Snapshot MountTable::snapshot()
{
    struct Cache
    {
        std::mutex mutex;
        std::shared_ptr<const MountInfoSource> source;
        std::uint64_t generation = 0;
        Snapshot snapshot;
    };
    static Cache *cache = new Cache;

    const std::shared_ptr<const MountInfoSource> from = source();
    const std::uint64_t generation = from->generation();
    {
        std::lock_guard lock(cache->mutex);
        if (cache->snapshot.table && cache->source == from && cache->generation == generation)
            return cache->snapshot;
    }
    const std::optional<std::string> text = from->read();
    auto table = std::make_shared<const MountTable>(text ? parse(*text) : MountTable());
    std::lock_guard lock(cache->mutex);
    cache->source = from;
    cache->generation = generation;
    cache->snapshot = Snapshot{std::move(table), cache->snapshot.stamp + 1};
    return cache->snapshot;
}

MountTable MountTable::current()
{
    return *snapshot().table;
}

void MountTable::setSourceForTesting(std::shared_ptr<const MountInfoSource> newSource)
{
    std::lock_guard lock(sourceMutex());
    sourceSlot() = std::move(newSource);
}

std::shared_ptr<const MountInfoSource> MountTable::source()
{
    std::lock_guard lock(sourceMutex());
    if (!sourceSlot())
        sourceSlot() = std::make_shared<ProcMountInfoSource>();
    return sourceSlot();
}

std::string MountTable::unescape(std::string_view field)
{
    const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    std::string result;
    result.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                result.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        result.push_back(field[i]);
    }
    return result;
}

std::optional<MountEntry> MountTable::mountAt(std::string_view mountPoint) const
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const MountEntry &entry) { return entry.mountPoint == mountPoint; });
    if (it == m_entries.end())
        return std::nullopt;
    return *it;
}

std::optional<MountEntry> MountTable::mountForPath(std::string_view realPath) const
{
    const MountEntry *best = nullptr;
    for (const MountEntry &entry : m_entries) {
        if (pathHasComponentPrefix(realPath, entry.mountPoint)
            && (!best || entry.mountPoint.size() > best->mountPoint.size()))
            best = &entry;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

bool pathHasComponentPrefix(std::string_view path, std::string_view prefix)
{
    while (prefix.size() > 1 && prefix.back() == '/')
        prefix.remove_suffix(1);
    if (prefix.empty())
        return false;
    if (prefix == "/")
        return !path.empty() && path.front() == '/';
    return path.substr(0, prefix.size()) == prefix && (path.size() == prefix.size() || path[prefix.size()] == '/');
}
