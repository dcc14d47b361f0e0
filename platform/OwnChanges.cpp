#include "OwnChanges.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <sys/inotify.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "MonotonicClock.h"
#include "PhysicalPath.h"

namespace
{
enum class Kind { Removal, TreeRemoval, AttributeRemoval, ScratchFile, Replacement, MoveAway };

// The one event a single-event note explains.
std::uint32_t eventOf(Kind kind)
{
    switch (kind) {
    case Kind::Removal:
        return IN_DELETE;
    case Kind::AttributeRemoval:
        return IN_ATTRIB;
    case Kind::Replacement:
        return IN_MOVED_TO;
    case Kind::MoveAway:
        return IN_MOVED_FROM;
    case Kind::TreeRemoval:
    case Kind::ScratchFile:
        break;
    }
    return 0;
}

struct Note
{
    Kind kind;
    std::uint64_t serial;
};

struct Noted
{
    std::uint64_t serial;
    std::string path;
    MonotonicClock::TimePoint time;
};

class Registry
{
public:
    void note(Kind kind, std::string path)
    {
        const MonotonicClock::TimePoint now = MonotonicClock::now();
        std::lock_guard lock(m_mutex);
        const std::uint64_t serial = ++m_lastSerial;
        m_notes[path].push_back(Note{kind, serial});
        m_order.push_back(Noted{serial, std::move(path), now});
        ++m_live;
        if (kind == Kind::TreeRemoval)
            ++m_treeRemovals;
        expire(now);
    }

    bool accountFor(const std::string &path, std::uint32_t events)
    {
        std::lock_guard lock(m_mutex);
        expire(MonotonicClock::now());
        // Without a tree removal noted, no folder above the path can explain it.
        for (std::string ancestor = m_treeRemovals > 0 ? path : std::string(); !ancestor.empty();) {
            if (holds(ancestor, Kind::TreeRemoval))
                return true;
            const std::size_t slash = ancestor.rfind('/');
            if (slash == std::string::npos || ancestor.size() == 1)
                break;
            ancestor.resize(slash == 0 ? 1 : slash);
        }
        const auto found = m_notes.find(path);
        if (found == m_notes.end())
            return false;
        std::vector<Note> &notes = found->second;
        if (holds(path, Kind::ScratchFile))
            return true;
        // Every event needs a note of its own; only then are they used up.
        std::vector<std::size_t> used;
        for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
            if (!(events & bit))
                continue;
            std::size_t index = 0;
            while (index < notes.size() && eventOf(notes[index].kind) != bit)
                ++index;
            if (index == notes.size())
                return false;
            used.push_back(index);
        }
        std::sort(used.rbegin(), used.rend());
        for (const std::size_t index : used)
            notes.erase(notes.begin() + static_cast<std::ptrdiff_t>(index));
        m_live -= used.size();
        if (notes.empty())
            m_notes.erase(found);
        return true;
    }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_notes.clear();
        m_order.clear();
        m_live = 0;
        m_treeRemovals = 0;
    }

    std::atomic<int> m_recorders{0};

private:
    bool holds(const std::string &path, Kind kind) const
    {
        const auto found = m_notes.find(path);
        if (found == m_notes.end())
            return false;
        for (const Note &note : found->second) {
            if (note.kind == kind)
                return true;
        }
        return false;
    }

    // Drops notes older than their lifetime, and the oldest beyond the capacity. Notes used
    // up earlier leave only their place in the order behind.
    void expire(MonotonicClock::TimePoint now)
    {
        while (!m_order.empty()
               && (now - m_order.front().time > OwnChanges::lifetime || m_live > OwnChanges::capacity
                   || m_order.size() > 4 * OwnChanges::capacity)) {
            const Noted oldest = std::move(m_order.front());
            m_order.pop_front();
            const auto found = m_notes.find(oldest.path);
            if (found == m_notes.end())
                continue;
            std::vector<Note> &notes = found->second;
            const auto expired = std::find_if(notes.begin(), notes.end(),
                                              [&oldest](const Note &note) { return note.serial == oldest.serial; });
            if (expired != notes.end()) {
                if (expired->kind == Kind::TreeRemoval)
                    --m_treeRemovals;
                notes.erase(expired);
                --m_live;
            }
            if (notes.empty())
                m_notes.erase(found);
        }
    }

    std::mutex m_mutex;
    std::unordered_map<std::string, std::vector<Note>> m_notes;
    std::deque<Noted> m_order;
    std::size_t m_live = 0;
    // Tree removals noted and not expired: without any, no path's folders need looking at.
    std::size_t m_treeRemovals = 0;
    std::uint64_t m_lastSerial = 0;
};

Registry &registry()
{
    static Registry *shared = new Registry;
    return *shared;
}

std::string joined(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

thread_local OwnChanges::FolderBeingChanged *folderBeingChanged = nullptr;

void noteAt(Kind kind, int directoryFd, const std::string &name)
{
    if (!OwnChanges::isRecording() || name.empty() || name.find('/') != std::string::npos)
        return;
    // The real path of the open folder, as the stream names the folders it watches.
    for (OwnChanges::FolderBeingChanged *known = folderBeingChanged; known; known = known->previous()) {
        if (known->fd() != directoryFd)
            continue;
        if (const std::optional<std::string> &folder = known->path())
            registry().note(kind, joined(*folder, name));
        return;
    }
    if (const std::optional<std::string> folder = physicalPathOfDescriptor(directoryFd))
        registry().note(kind, joined(*folder, name));
}
}

OwnChanges::FolderBeingChanged::FolderBeingChanged(int directoryFd, std::optional<std::string> realPath)
    : m_fd(directoryFd), m_resolved(realPath.has_value()), m_path(std::move(realPath)), m_previous(folderBeingChanged)
{
    folderBeingChanged = this;
}

OwnChanges::FolderBeingChanged::~FolderBeingChanged()
{
    folderBeingChanged = m_previous;
}

const std::optional<std::string> &OwnChanges::FolderBeingChanged::path()
{
    if (!m_resolved) {
        m_path = physicalPathOfDescriptor(m_fd);
        m_resolved = true;
    }
    return m_path;
}

void OwnChanges::noteRemovalAt(int directoryFd, const std::string &name)
{
    noteAt(Kind::Removal, directoryFd, name);
}

void OwnChanges::noteTreeRemovalAt(int directoryFd, const std::string &name)
{
    noteAt(Kind::TreeRemoval, directoryFd, name);
}

void OwnChanges::noteAttributeRemovalAt(int directoryFd, const std::string &name)
{
    noteAt(Kind::AttributeRemoval, directoryFd, name);
}

void OwnChanges::noteScratchFileAt(int directoryFd, const std::string &name)
{
    noteAt(Kind::ScratchFile, directoryFd, name);
}

void OwnChanges::noteReplacementAt(int directoryFd, const std::string &name)
{
    noteAt(Kind::Replacement, directoryFd, name);
}

void OwnChanges::noteExchangeAt(int directoryFd, const std::string &name)
{
    noteAt(Kind::Replacement, directoryFd, name);
    noteAt(Kind::MoveAway, directoryFd, name);
}

void OwnChanges::beginRecording()
{
    ++registry().m_recorders;
}

void OwnChanges::endRecording()
{
    if (--registry().m_recorders == 0)
        registry().clear();
}

bool OwnChanges::isRecording()
{
    return registry().m_recorders.load() > 0;
}

bool OwnChanges::accountFor(const std::string &path, std::uint32_t events)
{
    return registry().accountFor(path, events);
}

void OwnChanges::clearForTesting()
{
    registry().clear();
}
