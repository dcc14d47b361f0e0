#pragma once

#include <unordered_map>

// A set of hashable values that keeps each value as its own payload; appending
// an equal value again changes nothing visible.
template <typename T, typename Hash = std::hash<T>>
class HashedArray
{
public:
    void append(const T &item) { m_contents.insert_or_assign(item, item); }
    bool contains(const T &item) const { return m_contents.contains(item); }
    const std::unordered_map<T, T, Hash> &contents() const { return m_contents; }

private:
    std::unordered_map<T, T, Hash> m_contents;
};
