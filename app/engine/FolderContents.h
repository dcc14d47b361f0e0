#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where an entry lies in a folder's contents; dropping entries moves none.
struct FolderPosition
{
    std::uint32_t block = 0;
    std::uint32_t offset = 0;
};

// One entry of a folder the walk visits; links are never directories. A view of the entry as
// the contents hold it: its name lies in their storage, NUL-terminated.
struct WalkEntry
{
    const char *nameBytes = nullptr;
    std::uint32_t nameLength = 0;
    bool isDirectory = false;
    // A deletion of the folder's clean may have taken it.
    bool mayBeRemoved = false;
    bool isRegularFile = false;
    FolderPosition position;

    std::string_view name() const { return std::string_view(nameBytes, nameLength); }
};

// A folder's entries, read before its clean: the clean asks for no name that is not there,
// and the walk goes on with what the clean left, instead of listing the folder again.
// Each entry is a few bytes of flags and length followed by its name, packed one after the
// other into blocks that grow as the folder turns out larger (never zero-filled), so that a
// folder of a million entries takes little more than its names, and a small folder little
// more than a few hundred bytes.
class FolderContents
{
public:
    FolderContents() = default;
    FolderContents(FolderContents &&) = default;
    FolderContents &operator=(FolderContents &&) = default;
    FolderContents(const FolderContents &) = delete;
    FolderContents &operator=(const FolderContents &) = delete;

    void add(std::string_view name, bool isDirectory, bool isRegularFile);
    // The entries not dropped.
    std::size_t size() const { return m_count; }

    // The first entry not dropped at or after the position, which is moved past it; nothing
    // at the end.
    std::optional<WalkEntry> next(FolderPosition &position) const;

    // The entries not dropped, in listing order.
    class Iterator
    {
    public:
        Iterator(const FolderContents *contents, FolderPosition position);
        WalkEntry operator*() const { return *m_entry; }
        Iterator &operator++();
        bool operator==(const Iterator &other) const { return m_entry.has_value() == other.m_entry.has_value(); }

    private:
        const FolderContents *m_contents;
        FolderPosition m_next;
        std::optional<WalkEntry> m_entry;
    };
    Iterator begin() const { return Iterator(this, FolderPosition{}); }
    Iterator end() const { return Iterator(nullptr, FolderPosition{}); }

    // Marks the entries the name can stand for (letter case aside, since a volume may ignore
    // it); true when there is one, or when the name reaches below the folder.
    bool mark(std::string_view name);
    // Marks the "._" entries; true when there is one.
    bool markAppleDoubleFiles();
    // Marks the regular files named as our own temporary copies; true when there is one.
    bool markOwnTemporaryFiles();
    // Marks the entries a black-list pattern matches; true when there is one.
    bool markMatching(const std::vector<std::string> &patterns);

    // The clean removed the entry.
    void setRemoved(FolderPosition position);
    // A pass of the clean picks entries to act on once it has looked at them all.
    void setChosen(FolderPosition position, bool chosen);
    bool isChosen(FolderPosition position) const;

    // Drops the entries the clean removed: those set removed, those of the removed names, and
    // the marked ones that differ from such a name in letter case alone and are gone from the
    // folder.
    void dropRemoved(int folderFd, const std::vector<std::string> &removed);

private:
    struct Block
    {
        std::unique_ptr<char[]> bytes;
        std::uint32_t size = 0;
        std::uint32_t used = 0;
    };

    std::uint8_t &flagsAt(FolderPosition position);
    template <typename Visit> bool markEach(Visit &&matches);

    std::vector<Block> m_blocks;
    std::size_t m_count = 0;
};
