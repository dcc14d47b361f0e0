#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "TallowExport.h"

// Small collection helpers that answer an out-of-range question with nothing rather than a crash.

template <typename Collection>
bool hasContents(const Collection &collection)
{
    return !collection.empty();
}

// The element at index, or nothing when the index lies outside the vector.
template <typename T>
std::optional<T> elementAt(const std::vector<T> &vector, std::ptrdiff_t index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= vector.size())
        return std::nullopt;
    return vector[static_cast<std::size_t>(index)];
}

// index + 1 when that is a valid index, else 0 (also for an empty vector and any
// index outside it).
template <typename T>
std::ptrdiff_t indexAfterWrapping(const std::vector<T> &vector, std::ptrdiff_t index)
{
    const auto count = static_cast<std::ptrdiff_t>(vector.size());
    if (index < -1 || index >= count - 1)
        return 0;
    return index + 1;
}

// Removes every element equal to element, keeping the order of the rest.
template <typename T>
void removeAll(std::vector<T> &vector, const T &element)
{
    std::erase(vector, element);
}

// A copy without any element equal to element.
template <typename T>
std::vector<T> arrayRemoving(std::vector<T> vector, const T &element)
{
    std::erase(vector, element);
    return vector;
}

// The strings in ascending order by the collation of the application's locale
// (QLocale's default locale, which follows the user's unless the application sets one).
TALLOW_EXPORT std::vector<std::string> localizedSort(std::vector<std::string> strings);
