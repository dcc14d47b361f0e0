#include "PropertyListScreen.h"

#include <cstdint>

namespace
{
constexpr std::string_view binaryMagic = "bplist00";
constexpr std::size_t trailerSize = 32;

// A big-endian unsigned number of 1 to 8 bytes; the caller has checked the bounds.
std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// The string object at offset, whose object area ends at end: its length (in characters) sits in
// the marker's low half, or, when that is 0xF, in the integer object that follows.
std::string problemInString(std::string_view bytes, std::size_t offset, std::size_t end, unsigned unitSize)
{
    const std::uint8_t marker = static_cast<std::uint8_t>(bytes[offset]);
    std::uint64_t length = marker & 0x0F;
    std::size_t start = offset + 1;
    if (length == 0x0F) {
        if (start >= end)
            return "a string's length is missing";
        const std::uint8_t lengthMarker = static_cast<std::uint8_t>(bytes[start]);
        if ((lengthMarker & 0xF0) != 0x10 || (lengthMarker & 0x0F) > 3)
            return "a string's length is no integer";
        const std::size_t lengthSize = std::size_t{1} << (lengthMarker & 0x0F);
        if (end - start - 1 < lengthSize)
            return "a string's length is cut short";
        length = bigEndian(bytes, start + 1, lengthSize);
        start += 1 + lengthSize;
    }
    if (length > (end - start) / unitSize)
        return "a string runs past the objects";
    const std::string_view text = bytes.substr(start, static_cast<std::size_t>(length) * unitSize);
    for (std::size_t at = 0; at < text.size(); at += unitSize) {
        bool zero = true;
        for (unsigned i = 0; i < unitSize; ++i)
            zero = zero && text[at + i] == '\0';
        if (zero)
            return "a string or key holds a NUL character";
    }
    return {};
}

std::string problemInBinary(std::string_view bytes)
{
    if (bytes.size() < binaryMagic.size() + trailerSize + 1)
        return "the binary list is cut short";
    const std::size_t trailer = bytes.size() - trailerSize;
    const std::size_t offsetSize = static_cast<std::uint8_t>(bytes[trailer + 6]);
    const std::size_t referenceSize = static_cast<std::uint8_t>(bytes[trailer + 7]);
    const std::uint64_t objectCount = bigEndian(bytes, trailer + 8, 8);
    const std::uint64_t rootObject = bigEndian(bytes, trailer + 16, 8);
    const std::uint64_t tableOffset = bigEndian(bytes, trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || referenceSize < 1 || referenceSize > 8)
        return "the binary list's trailer is damaged";
    if (objectCount == 0 || rootObject >= objectCount || tableOffset < binaryMagic.size() || tableOffset > trailer
        || objectCount > (trailer - tableOffset) / offsetSize)
        return "the binary list's offset table is damaged";
    const std::size_t objectsEnd = static_cast<std::size_t>(tableOffset);
    for (std::uint64_t index = 0; index < objectCount; ++index) {
        const std::uint64_t offset = bigEndian(bytes, objectsEnd + static_cast<std::size_t>(index) * offsetSize, offsetSize);
        if (offset < binaryMagic.size() || offset >= objectsEnd)
            return "an object lies outside the list";
        std::string problem;
        switch (static_cast<std::uint8_t>(bytes[offset]) >> 4) {
        case 0x5: // ASCII
        case 0x7: // UTF-8
            problem = problemInString(bytes, static_cast<std::size_t>(offset), objectsEnd, 1);
            break;
        case 0x6: // UTF-16
            problem = problemInString(bytes, static_cast<std::size_t>(offset), objectsEnd, 2);
            break;
        default:
            break;
        }
        if (!problem.empty())
            return problem;
    }
    return {};
}
}

std::string PropertyListScreen::problemIn(std::string_view bytes)
{
    if (bytes.starts_with(binaryMagic))
        return problemInBinary(bytes);
    if (bytes.find('\0') != std::string_view::npos)
        return "it holds a NUL byte";
    return {};
}
