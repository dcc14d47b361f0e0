#include "Pasteboard.h"

#include <algorithm>

Pasteboard Pasteboard::withFileNames(const std::vector<std::string> &paths)
{
    Array names;
    names.reserve(paths.size());
    for (const std::string &path : paths)
        names.emplace_back(path);
    Pasteboard pasteboard;
    pasteboard.setPropertyList(Value(std::move(names)), filenamesType);
    return pasteboard;
}

std::vector<std::string> Pasteboard::types() const
{
    std::vector<std::string> types;
    types.reserve(m_contents.size());
    for (const auto &[type, propertyList] : m_contents)
        types.push_back(type);
    return types;
}

void Pasteboard::setPropertyList(const Value &propertyList, const std::string &type)
{
    const auto found = std::find_if(m_contents.begin(), m_contents.end(),
                                    [&type](const auto &entry) { return entry.first == type; });
    if (found != m_contents.end())
        found->second = propertyList;
    else
        m_contents.emplace_back(type, propertyList);
}

std::optional<Value> Pasteboard::propertyListForType(const std::string &type) const
{
    const auto found = std::find_if(m_contents.begin(), m_contents.end(),
                                    [&type](const auto &entry) { return entry.first == type; });
    if (found == m_contents.end())
        return std::nullopt;
    return found->second;
}
