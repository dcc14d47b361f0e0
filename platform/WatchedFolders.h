#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

#include "TallowExport.h"

// The folders an inotify instance watches, one small record each, keyed by watch descriptor.
// A folder is kept as its place below the folder that holds it and its own name, in one block
// of names; a folder at the top (a root, or one whose holder is no longer watched) is kept by
// its full path. Full paths are built only when asked for. A folder's path never changes while
// it is kept: a folder that moves is removed and added again where it went.
class TALLOW_EXPORT WatchedFolders
{
public:
    static constexpr int none = -1;

    // A watch not kept yet; `parent` is the holder's watch, or none with the full path as the name.
    void add(int wd, int parent, std::string_view name, dev_t device);
    // The folders it held move to the top, under their full paths.
    void remove(int wd);

    bool contains(int wd) const { return m_folders.contains(wd); }
    std::size_t size() const { return m_folders.size(); }
    int parent(int wd) const;
    dev_t device(int wd) const;
    std::string path(int wd) const;
    // The folder held by `wd` with that name, or none.
    int childNamed(int wd, std::string_view name) const;
    // The top folder with that full path, or none.
    int topAt(const std::string &path) const;
    // The top folders inside that path.
    std::vector<int> topsBelow(const std::string &path) const;

    // The folder and every folder below it, each before the folders it holds, with its depth
    // below `top` and its path. The visitor must not add or remove folders.
    void visit(int top, const std::function<void(int wd, std::size_t depth, const std::string &path)> &visitor) const;
    // Every top folder with everything below it, the tops in the order of their paths.
    void visitAll(const std::function<void(int wd, std::size_t depth, const std::string &path)> &visitor) const;

    // Bytes kept for names, dead ones included (for tests of the compaction).
    std::size_t nameBytes() const { return m_names.size(); }

private:
    struct Folder
    {
        int parent;
        int firstChild;
        int nextSibling;
        int previousSibling;
        std::uint32_t nameOffset;
        std::uint16_t nameLength;
        std::uint16_t deviceIndex;
    };

    const Folder &folder(int wd) const { return m_folders.at(wd); }
    std::string_view nameOf(const Folder &folder) const { return {m_names.data() + folder.nameOffset, folder.nameLength}; }
    void storeName(Folder &folder, std::string_view name);
    void unlinkFromParent(Folder &folder);
    void compactNames();

    std::unordered_map<int, Folder> m_folders;
    std::string m_names;
    std::size_t m_deadNameBytes = 0;
    std::vector<dev_t> m_devices;
    std::map<std::string, int> m_tops;
    // The last path built: events and scans ask for the same folder many times in a row.
    mutable int m_cachedWd = none;
    mutable std::string m_cachedPath;
};
