#include "StringExtensions.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "Utf8.h"

namespace
{
// The byte offsets at which the string's characters begin, followed by its length.
std::vector<std::size_t> characterBoundaries(const std::string &string)
{
    std::vector<std::size_t> boundaries{0};
    if (string.empty())
        return boundaries;
    UErrorCode status = U_ZERO_ERROR;
    UText *text = utext_openUTF8(nullptr, string.data(), static_cast<std::int64_t>(string.size()), &status);
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_SUCCESS(status)) {
        iterator->setText(text, status);
        for (std::int32_t next = iterator->next(); U_SUCCESS(status) && next != icu::BreakIterator::DONE;
             next = iterator->next())
            boundaries.push_back(static_cast<std::size_t>(next));
    }
    utext_close(text);
    if (U_FAILURE(status)) {
        // Without the break rules, fall back to code points so nothing is cut inside one.
        boundaries.assign({0});
        std::int32_t offset = 0;
        const auto length = static_cast<std::int32_t>(string.size());
        while (offset < length) {
            U8_FWD_1(string.data(), offset, length);
            boundaries.push_back(static_cast<std::size_t>(offset));
        }
    }
    return boundaries;
}

bool isCharacterBoundary(const std::string &string, std::size_t offset)
{
    // Between two ASCII characters only a carriage return and its line feed stay together:
    // the common case needs no break rules (a path cut after one of its slashes).
    const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
    if (offset > 0 && offset < string.size() && ascii(string[offset - 1]) && ascii(string[offset]))
        return !(string[offset - 1] == '\r' && string[offset] == '\n');
    const std::vector<std::size_t> boundaries = characterBoundaries(string);
    return std::binary_search(boundaries.begin(), boundaries.end(), offset);
}
}

bool hasContents(const std::string &string)
{
    return !string.empty();
}

std::optional<Data> utf8Data(const std::string &string)
{
    if (!isValidUTF8(string))
        return std::nullopt;
    return Data(string.begin(), string.end());
}

std::string substringFrom(const std::string &string, std::int64_t count)
{
    if (count <= 0)
        return string;
    const std::vector<std::size_t> boundaries = characterBoundaries(string);
    // boundaries holds one entry per character plus the end.
    if (static_cast<std::uint64_t>(count) >= boundaries.size())
        return {};
    return string.substr(boundaries[static_cast<std::size_t>(count)]);
}

std::string dropPrefix(const std::string &string, const std::string &prefix)
{
    if (prefix.empty() || !string.starts_with(prefix) || !isCharacterBoundary(string, prefix.size()))
        return string;
    return string.substr(prefix.size());
}

std::string dropSuffix(const std::string &string, const std::string &suffix)
{
    if (suffix.empty() || !string.ends_with(suffix))
        return string;
    const std::size_t keep = string.size() - suffix.size();
    if (!isCharacterBoundary(string, keep))
        return string;
    return string.substr(0, keep);
}

std::string replaceRangeWithRepeatedCharacter(const std::string &string, std::size_t firstCharacter,
                                              std::size_t endCharacter, const std::string &character)
{
    const std::vector<std::size_t> boundaries = characterBoundaries(string);
    std::string result;
    result.reserve(string.size());
    for (std::size_t index = 0; index + 1 < boundaries.size(); ++index) {
        if (index >= firstCharacter && index < endCharacter)
            result += character;
        else
            result.append(string, boundaries[index], boundaries[index + 1] - boundaries[index]);
    }
    return result;
}

std::optional<std::string> TupleOfInt8sToString(const std::int8_t *elements, std::size_t count)
{
    std::string result;
    for (std::size_t index = 0; elements && index < count && elements[index] > 0; ++index)
        result.push_back(static_cast<char>(elements[index]));
    if (result.empty())
        return std::nullopt;
    return result;
}

std::optional<std::string> UTF8PtrToString(const char *p)
{
    if (!p)
        return std::nullopt;
    const std::size_t length = std::strlen(p);
    if (!isValidUTF8(std::string_view(p, length)))
        return std::nullopt;
    return std::string(p, length);
}
