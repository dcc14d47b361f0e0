#include "PropertyListScreen.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace
{
constexpr std::string_view binaryMagic = "bplist00";
constexpr std::size_t trailerSize = 32;
// libplist parses and frees nested containers by recursion: deeper lists overflow the stack.
constexpr std::size_t maximumDepth = 512;
// A binary list's objects may be referred to many times, and libplist copies each reference:
// a small file could otherwise expand beyond memory.
constexpr std::uint64_t maximumExpandedObjects = 1 << 20;

// A big-endian unsigned number of 1 to 8 bytes; the caller has checked the bounds.
std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// Where an object's contents begin and how many units they hold: the count sits in the
// marker's low half or, when that is 0xF, in the integer object that follows the marker.
struct Extent
{
    std::size_t start = 0;
    std::uint64_t count = 0;
};

std::optional<Extent> extentOf(std::string_view bytes, std::size_t offset, std::size_t end, std::string &problem)
{
    Extent extent{offset + 1, static_cast<std::uint8_t>(bytes[offset]) & 0x0Fu};
    if (extent.count != 0x0F)
        return extent;
    if (extent.start >= end) {
        problem = "an object's length is missing";
        return std::nullopt;
    }
    const std::uint8_t lengthMarker = static_cast<std::uint8_t>(bytes[extent.start]);
    if ((lengthMarker & 0xF0) != 0x10 || (lengthMarker & 0x0F) > 3) {
        problem = "an object's length is no integer";
        return std::nullopt;
    }
    const std::size_t lengthSize = std::size_t{1} << (lengthMarker & 0x0F);
    if (end - extent.start - 1 < lengthSize) {
        problem = "an object's length is cut short";
        return std::nullopt;
    }
    extent.count = bigEndian(bytes, extent.start + 1, lengthSize);
    extent.start += 1 + lengthSize;
    return extent;
}

std::string problemInString(std::string_view bytes, std::size_t offset, std::size_t end, unsigned unitSize)
{
    std::string problem;
    const auto extent = extentOf(bytes, offset, end, problem);
    if (!extent)
        return problem;
    if (extent->count > (end - extent->start) / unitSize)
        return "a string runs past the objects";
    const std::string_view text = bytes.substr(extent->start, static_cast<std::size_t>(extent->count) * unitSize);
    for (std::size_t at = 0; at < text.size(); at += unitSize) {
        bool zero = true;
        for (unsigned i = 0; i < unitSize; ++i)
            zero = zero && text[at + i] == '\0';
        if (zero)
            return "a string or key holds a NUL character";
    }
    return {};
}

class BinaryList
{
public:
    explicit BinaryList(std::string_view bytes) : m_bytes(bytes) {}

    std::string problem()
    {
        if (m_bytes.size() < binaryMagic.size() + trailerSize + 1)
            return "the binary list is cut short";
        const std::size_t trailer = m_bytes.size() - trailerSize;
        const std::size_t offsetSize = static_cast<std::uint8_t>(m_bytes[trailer + 6]);
        m_referenceSize = static_cast<std::uint8_t>(m_bytes[trailer + 7]);
        const std::uint64_t objectCount = bigEndian(m_bytes, trailer + 8, 8);
        const std::uint64_t rootObject = bigEndian(m_bytes, trailer + 16, 8);
        const std::uint64_t tableOffset = bigEndian(m_bytes, trailer + 24, 8);
        if (offsetSize < 1 || offsetSize > 8 || m_referenceSize < 1 || m_referenceSize > 8)
            return "the binary list's trailer is damaged";
        if (objectCount == 0 || rootObject >= objectCount || tableOffset < binaryMagic.size() || tableOffset > trailer
            || objectCount > (trailer - tableOffset) / offsetSize)
            return "the binary list's offset table is damaged";
        m_objectsEnd = static_cast<std::size_t>(tableOffset);
        m_offsets.resize(static_cast<std::size_t>(objectCount));
        for (std::size_t index = 0; index < m_offsets.size(); ++index) {
            const std::uint64_t offset = bigEndian(m_bytes, m_objectsEnd + index * offsetSize, offsetSize);
            if (offset < binaryMagic.size() || offset >= m_objectsEnd)
                return "an object lies outside the list";
            m_offsets[index] = static_cast<std::size_t>(offset);
            std::string problem;
            switch (static_cast<std::uint8_t>(m_bytes[offset]) >> 4) {
            case 0x5: // ASCII
            case 0x7: // UTF-8
                problem = problemInString(m_bytes, m_offsets[index], m_objectsEnd, 1);
                break;
            case 0x6: // UTF-16
                problem = problemInString(m_bytes, m_offsets[index], m_objectsEnd, 2);
                break;
            default:
                break;
            }
            if (!problem.empty())
                return problem;
        }
        return problemInTree(static_cast<std::size_t>(rootObject));
    }

private:
    enum class Mark : std::uint8_t
    {
        unseen,
        open,
        done
    };

    struct Frame
    {
        std::size_t object;
        std::size_t references;
        std::uint64_t count;
        std::uint64_t next = 0;
        std::size_t depth = 0;
        std::uint64_t expanded = 1;
    };

    // The references of a container (arrays and sets: their items; dictionaries: keys, then
    // values); none for any other object.
    bool referencesOf(std::size_t object, std::size_t &start, std::uint64_t &count, std::string &problem) const
    {
        const std::size_t offset = m_offsets[object];
        const unsigned type = static_cast<std::uint8_t>(m_bytes[offset]) >> 4;
        count = 0;
        if (type != 0xA && type != 0xC && type != 0xD)
            return true;
        const auto extent = extentOf(m_bytes, offset, m_objectsEnd, problem);
        if (!extent)
            return false;
        const std::uint64_t perItem = type == 0xD ? 2 : 1;
        if (extent->count > (m_objectsEnd - extent->start) / m_referenceSize / perItem) {
            problem = "a container runs past the objects";
            return false;
        }
        start = extent->start;
        count = extent->count * perItem;
        return true;
    }

    // The containers' references, followed from the root without recursion: each must name an
    // object, none may lead back to itself, and the tree libplist would build stays bounded in
    // depth and size.
    std::string problemInTree(std::size_t root)
    {
        std::vector<Mark> marks(m_offsets.size(), Mark::unseen);
        std::vector<std::uint32_t> depths(m_offsets.size(), 0);
        std::vector<std::uint64_t> sizes(m_offsets.size(), 0);
        std::vector<Frame> stack;
        std::string problem;
        const auto open = [&](std::size_t object) {
            std::size_t start = 0;
            std::uint64_t count = 0;
            if (!referencesOf(object, start, count, problem))
                return false;
            marks[object] = Mark::open;
            stack.push_back(Frame{object, start, count});
            return true;
        };
        const auto addChild = [&](Frame &frame, std::size_t child) {
            frame.depth = std::max<std::size_t>(frame.depth, depths[child] + 1);
            frame.expanded += sizes[child];
            if (frame.depth > maximumDepth || frame.expanded > maximumExpandedObjects) {
                problem = frame.depth > maximumDepth ? "it is nested too deeply" : "it would expand too far";
                return false;
            }
            return true;
        };
        if (!open(root))
            return problem;
        while (!stack.empty()) {
            Frame &frame = stack.back();
            if (frame.next == frame.count) {
                const Frame finished = frame;
                stack.pop_back();
                marks[finished.object] = Mark::done;
                depths[finished.object] = static_cast<std::uint32_t>(finished.depth);
                sizes[finished.object] = finished.expanded;
                if (!stack.empty() && !addChild(stack.back(), finished.object))
                    return problem;
                continue;
            }
            const std::uint64_t child = bigEndian(
                m_bytes, frame.references + static_cast<std::size_t>(frame.next) * m_referenceSize, m_referenceSize);
            ++frame.next;
            if (child >= m_offsets.size())
                return "a reference names no object";
            const std::size_t index = static_cast<std::size_t>(child);
            if (marks[index] == Mark::open)
                return "a container holds itself";
            if (marks[index] == Mark::done) {
                if (!addChild(frame, index))
                    return problem;
                continue;
            }
            if (stack.size() > maximumDepth)
                return "it is nested too deeply";
            if (!open(index))
                return problem;
        }
        return {};
    }

    std::string_view m_bytes;
    std::size_t m_referenceSize = 0;
    std::size_t m_objectsEnd = 0;
    std::vector<std::size_t> m_offsets;
};

// An XML list's nesting, from its tags: "<array>" and "<dict>" open a level (their empty forms
// do not), "</array>" and "</dict>" close one.
std::string problemInXML(std::string_view bytes)
{
    if (bytes.find('\0') != std::string_view::npos)
        return "it holds a NUL byte";
    std::size_t depth = 0;
    for (std::size_t at = bytes.find('<'); at != std::string_view::npos; at = bytes.find('<', at + 1)) {
        const bool closing = at + 1 < bytes.size() && bytes[at + 1] == '/';
        const std::size_t nameStart = at + (closing ? 2 : 1);
        const std::size_t nameEnd = bytes.find_first_of(" \t\r\n/>", nameStart);
        const std::string_view name = bytes.substr(nameStart, nameEnd == std::string_view::npos ? 0 : nameEnd - nameStart);
        if (name != "array" && name != "dict")
            continue;
        const std::size_t tagEnd = bytes.find('>', nameEnd);
        const bool empty = tagEnd != std::string_view::npos && tagEnd > 0 && bytes[tagEnd - 1] == '/';
        if (closing) {
            depth -= depth > 0 ? 1 : 0;
        } else if (!empty && ++depth > maximumDepth) {
            return "it is nested too deeply";
        }
    }
    return {};
}
}

std::string PropertyListScreen::problemIn(std::string_view bytes)
{
    if (bytes.starts_with(binaryMagic))
        return BinaryList(bytes).problem();
    return problemInXML(bytes);
}
