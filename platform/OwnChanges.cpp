#include "OwnChanges.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <string_view>
#include <utility>
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

// The notes of one entry's name, and how many places in the order of notes name it: the name is
// kept here once, however many notes name it.
struct NameNotes
{
    std::vector<Note> notes;
    std::uint32_t places = 0;
};
using Names = std::unordered_map<std::string, NameNotes>;

// The notes of one folder, by the names of its entries. A folder stays while notes made in it
// are still in the order of notes, which points to it.
struct FolderNotes
{
    Names names;
    std::size_t noted = 0;
};
using Folders = std::unordered_map<std::string, FolderNotes>;

struct Noted
{
    std::uint64_t serial;
    MonotonicClock::TimePoint time;
    Folders::value_type *folder;
    Names::value_type *name;
};

// The folder and the name of an entry's path.
std::pair<std::string_view, std::string_view> folderAndName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {std::string_view(), path};
    return {slash == 0 ? path.substr(0, 1) : path.substr(0, slash), path.substr(slash + 1)};
}

// Kept by folder, so that the many notes of one folder share its path.
class Registry
{
public:
    void note(Kind kind, const std::string &folderPath, const std::string &name)
    {
        const MonotonicClock::TimePoint now = MonotonicClock::now();
        std::lock_guard lock(m_mutex);
        const std::uint64_t serial = ++m_lastSerial;
        Folders::value_type &folder = *m_folders.try_emplace(folderPath).first;
        Names::value_type &named = *folder.second.names.try_emplace(name).first;
        named.second.notes.push_back(Note{kind, serial});
        ++named.second.places;
        ++folder.second.noted;
        m_order.push_back(Noted{serial, now, &folder, &named});
        m_noted.store(m_order.size(), std::memory_order_release);
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
        for (std::string_view ancestor = m_treeRemovals > 0 ? std::string_view(path) : std::string_view();
             !ancestor.empty();) {
            if (holds(ancestor, Kind::TreeRemoval))
                return true;
            const std::size_t slash = ancestor.rfind('/');
            if (slash == std::string_view::npos || ancestor.size() == 1)
                break;
            ancestor = ancestor.substr(0, slash == 0 ? 1 : slash);
        }
        std::vector<Note> *found = notesOf(path);
        if (!found || found->empty())
            return false;
        std::vector<Note> &notes = *found;
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
        // The used-up notes at the front go now: with none left, the stream need not ask at all.
        expire(MonotonicClock::now());
        return true;
    }

    bool mayHoldNotes() const { return m_noted.load(std::memory_order_acquire) != 0; }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_folders.clear();
        m_order.clear();
        m_noted.store(0, std::memory_order_release);
        m_live = 0;
        m_treeRemovals = 0;
    }

    std::atomic<int> m_recorders{0};

private:
    std::vector<Note> *notesOf(std::string_view path)
    {
        const auto [folderPath, name] = folderAndName(path);
        const auto folder = m_folders.find(std::string(folderPath));
        if (folder == m_folders.end())
            return nullptr;
        const auto notes = folder->second.names.find(std::string(name));
        return notes == folder->second.names.end() ? nullptr : &notes->second.notes;
    }

    bool holds(std::string_view path, Kind kind)
    {
        const std::vector<Note> *notes = notesOf(path);
        return notes
               && std::any_of(notes->begin(), notes->end(), [kind](const Note &note) { return note.kind == kind; });
    }

    // Drops notes older than their lifetime, and the oldest beyond the capacity. Notes used up
    // earlier leave only their place in the order behind, which goes once it is the oldest: while
    // the stream keeps up with Tarnwick's changes, only the notes it has not yet seen are kept.
    void expire(MonotonicClock::TimePoint now)
    {
        while (!m_order.empty()) {
            const Noted &oldest = m_order.front();
            std::vector<Note> &notes = oldest.name->second.notes;
            const auto live = std::find_if(notes.begin(), notes.end(),
                                           [&oldest](const Note &note) { return note.serial == oldest.serial; });
            if (live != notes.end() && now - oldest.time <= OwnChanges::lifetime && m_live <= OwnChanges::capacity
                && m_order.size() <= 4 * OwnChanges::capacity)
                break;
            if (live != notes.end()) {
                if (live->kind == Kind::TreeRemoval)
                    --m_treeRemovals;
                notes.erase(live);
                --m_live;
            }
            FolderNotes &folder = oldest.folder->second;
            if (--oldest.name->second.places == 0)
                folder.names.erase(folder.names.find(oldest.name->first));
            if (--folder.noted == 0)
                m_folders.erase(m_folders.find(oldest.folder->first));
            m_order.pop_front();
        }
        m_noted.store(m_order.size(), std::memory_order_release);
    }

    std::mutex m_mutex;
    Folders m_folders;
    std::deque<Noted> m_order;
    // The size of m_order, read without the lock.
    std::atomic<std::size_t> m_noted{0};
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
            registry().note(kind, *folder, name);
        return;
    }
    if (const std::optional<std::string> folder = physicalPathOfDescriptor(directoryFd))
        registry().note(kind, *folder, name);
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

bool OwnChanges::mayAccountFor()
{
    return registry().mayHoldNotes();
}

void OwnChanges::clearForTesting()
{
    registry().clear();
}
