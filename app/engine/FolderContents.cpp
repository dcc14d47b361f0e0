#include "FolderContents.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>
#include <unordered_set>

#include "OwnTemporaryFiles.h"

namespace
{
// An entry: one byte of flags, two of name length, the name and a NUL.
constexpr std::size_t headerSize = 3;
constexpr std::uint8_t directoryFlag = 0x01;
constexpr std::uint8_t regularFileFlag = 0x02;
constexpr std::uint8_t mayBeRemovedFlag = 0x04;
constexpr std::uint8_t removedFlag = 0x08;
constexpr std::uint8_t droppedFlag = 0x10;
constexpr std::uint8_t chosenFlag = 0x20;

// The first block holds a small folder whole; each further one doubles, up to the largest.
constexpr std::size_t firstBlockSize = 512;
constexpr std::size_t largestBlockSize = 65536;

std::size_t recordSize(std::size_t nameLength)
{
    return headerSize + nameLength + 1;
}

std::uint32_t nameLengthAt(const char *record)
{
    std::uint16_t length;
    std::memcpy(&length, record + 1, sizeof length);
    return length;
}

char lowered(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view left, std::string_view right)
{
    return left.size() == right.size()
           && std::equal(left.begin(), left.end(), right.begin(),
                         [](char a, char b) { return lowered(a) == lowered(b); });
}

std::string loweredName(std::string_view name)
{
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), lowered);
    return lower;
}
}

void FolderContents::add(std::string_view name, bool isDirectory, bool isRegularFile)
{
    // A name is at most 255 bytes on every file system the kernel lists; the length field holds more.
    const std::size_t length = std::min<std::size_t>(name.size(), UINT16_MAX);
    const std::size_t needed = recordSize(length);
    if (m_blocks.empty() || m_blocks.back().used + needed > m_blocks.back().size) {
        const std::size_t grown =
            m_blocks.empty() ? firstBlockSize : std::min<std::size_t>(2 * m_blocks.back().size, largestBlockSize);
        const std::size_t size = std::max(grown, needed);
        m_blocks.push_back(Block{std::make_unique_for_overwrite<char[]>(size), static_cast<std::uint32_t>(size), 0});
    }
    Block &block = m_blocks.back();
    char *record = block.bytes.get() + block.used;
    record[0] = static_cast<char>((isDirectory ? directoryFlag : 0) | (isRegularFile ? regularFileFlag : 0));
    const auto length16 = static_cast<std::uint16_t>(length);
    std::memcpy(record + 1, &length16, sizeof length16);
    std::memcpy(record + headerSize, name.data(), length);
    record[headerSize + length] = '\0';
    block.used += static_cast<std::uint32_t>(needed);
    ++m_count;
}

std::optional<WalkEntry> FolderContents::next(FolderPosition &position) const
{
    while (position.block < m_blocks.size()) {
        const Block &block = m_blocks[position.block];
        if (position.offset >= block.used) {
            ++position.block;
            position.offset = 0;
            continue;
        }
        const char *record = block.bytes.get() + position.offset;
        const FolderPosition at = position;
        const std::uint32_t length = nameLengthAt(record);
        position.offset += static_cast<std::uint32_t>(recordSize(length));
        const auto flags = static_cast<std::uint8_t>(record[0]);
        if (flags & droppedFlag)
            continue;
        return WalkEntry{record + headerSize,
                         length,
                         (flags & directoryFlag) != 0,
                         (flags & mayBeRemovedFlag) != 0,
                         (flags & regularFileFlag) != 0,
                         at};
    }
    return std::nullopt;
}

FolderContents::Iterator::Iterator(const FolderContents *contents, FolderPosition position)
    : m_contents(contents), m_next(position)
{
    if (m_contents)
        m_entry = m_contents->next(m_next);
}

FolderContents::Iterator &FolderContents::Iterator::operator++()
{
    m_entry = m_contents->next(m_next);
    return *this;
}

std::uint8_t &FolderContents::flagsAt(FolderPosition position)
{
    return *reinterpret_cast<std::uint8_t *>(m_blocks[position.block].bytes.get() + position.offset);
}

template <typename Visit> bool FolderContents::markEach(Visit &&matches)
{
    bool found = false;
    for (const WalkEntry &entry : *this) {
        if (matches(entry)) {
            flagsAt(entry.position) |= mayBeRemovedFlag;
            found = true;
        }
    }
    return found;
}

bool FolderContents::mark(std::string_view name)
{
    if (name.find('/') != std::string_view::npos)
        return true;
    return markEach([name](const WalkEntry &entry) { return equalIgnoringCase(entry.name(), name); });
}

bool FolderContents::markAppleDoubleFiles()
{
    return markEach([](const WalkEntry &entry) { return entry.name().starts_with("._"); });
}

bool FolderContents::markOwnTemporaryFiles()
{
    return markEach([](const WalkEntry &entry) {
        return entry.isRegularFile && OwnTemporaryFiles::isOwnTemporaryName(entry.name());
    });
}

bool FolderContents::markMatching(const std::vector<std::string> &patterns)
{
    if (patterns.empty())
        return false;
    return markEach([&patterns](const WalkEntry &entry) {
        return std::any_of(patterns.begin(), patterns.end(), [&entry](const std::string &pattern) {
            return fnmatch(pattern.c_str(), entry.nameBytes, FNM_NOESCAPE | FNM_PATHNAME | FNM_LEADING_DIR) == 0;
        });
    });
}

void FolderContents::setRemoved(FolderPosition position)
{
    flagsAt(position) |= removedFlag;
}

void FolderContents::setChosen(FolderPosition position, bool chosen)
{
    if (chosen)
        flagsAt(position) |= chosenFlag;
    else
        flagsAt(position) &= static_cast<std::uint8_t>(~chosenFlag);
}

bool FolderContents::isChosen(FolderPosition position) const
{
    return (static_cast<std::uint8_t>(m_blocks[position.block].bytes[position.offset]) & chosenFlag) != 0;
}

void FolderContents::dropRemoved(int folderFd, const std::vector<std::string> &removed)
{
    const std::unordered_set<std::string_view> exact(removed.begin(), removed.end());
    std::unordered_set<std::string> anyCase;
    for (const std::string &name : removed)
        anyCase.insert(loweredName(name));
    for (const WalkEntry &entry : *this) {
        std::uint8_t &flags = flagsAt(entry.position);
        bool gone = (flags & removedFlag) != 0;
        if (!gone && entry.mayBeRemoved && !removed.empty()) {
            gone = exact.contains(entry.name())
                   || (anyCase.contains(loweredName(entry.name()))
                       && faccessat(folderFd, entry.nameBytes, F_OK, AT_SYMLINK_NOFOLLOW) != 0);
        }
        if (gone) {
            flags |= droppedFlag;
            --m_count;
        }
    }
}
