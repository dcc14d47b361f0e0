#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Error.h"
#include "TallowExport.h"
#include "Value.h"

// Typed reads from loosely typed dictionaries (stored settings, user info).
// The reads are strict: a string never becomes a number or a Boolean, a number
// becomes a Boolean only when it is 0 or 1 (and a Boolean a number 0 or 1), an
// integer may be read as a double but a double never as an integer, and an
// integer outside the range of the requested type is not that type.
// A null value counts as missing.

TALLOW_EXPORT bool readValue(const Value &value, bool &out);
TALLOW_EXPORT bool readValue(const Value &value, std::int64_t &out);
TALLOW_EXPORT bool readValue(const Value &value, int &out);
TALLOW_EXPORT bool readValue(const Value &value, double &out);
TALLOW_EXPORT bool readValue(const Value &value, std::string &out);
TALLOW_EXPORT bool readValue(const Value &value, Data &out);
TALLOW_EXPORT bool readValue(const Value &value, Date &out);
TALLOW_EXPORT bool readValue(const Value &value, Array &out);
TALLOW_EXPORT bool readValue(const Value &value, Dictionary &out);
TALLOW_EXPORT bool readValue(const Value &value, Value &out);

// An array whose every element reads as Element (for example a list of names).
template <typename Element>
bool readValue(const Value &value, std::vector<Element> &out)
{
    const Array *array = value.asArray();
    if (!array)
        return false;
    std::vector<Element> elements;
    elements.reserve(array->size());
    for (const Value &item : *array) {
        Element element{};
        if (!readValue(item, element))
            return false;
        elements.push_back(std::move(element));
    }
    out = std::move(elements);
    return true;
}

// The error thrown when a key is missing or holds another type.
TALLOW_EXPORT Error valueForKeyFailed(const std::string &key);

template <typename T>
std::optional<T> optionalValueForKey(const std::string &key, const Dictionary &from)
{
    const auto found = from.find(key);
    if (found == from.end())
        return std::nullopt;
    T result{};
    if (!readValue(found->second, result))
        return std::nullopt;
    return result;
}

// The value for key read as T; throws valueForKeyFailed(key) when it is missing or not a T.
template <typename T>
T valueForKey(const std::string &key, const Dictionary &from)
{
    std::optional<T> result = optionalValueForKey<T>(key, from);
    if (!result)
        throw valueForKeyFailed(key);
    return std::move(*result);
}

// The value for key read as T, or defaultValue when it is missing or not a T.
template <typename T>
T valueForKey(const std::string &key, const Dictionary &from, T defaultValue)
{
    std::optional<T> result = optionalValueForKey<T>(key, from);
    return result ? std::move(*result) : std::move(defaultValue);
}
