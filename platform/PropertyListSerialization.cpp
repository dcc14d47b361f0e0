#include "PropertyListSerialization.h"

#include "Error.h"
#include "PropertyList.h"
#include "XdgPaths.h"

std::optional<std::string> PropertyListSerialization::fetchSingleValueForKey(const std::string &key,
                                                                             const std::string &path)
{
    Value value;
    try {
        value = PropertyList::readFile(XdgPaths::expandTilde(path));
    } catch (const Error &) {
        return std::nullopt;
    }

    const Value *current = &value;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type dot = key.find('.', start);
        const std::string component = key.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        const Dictionary *dictionary = current->asDictionary();
        if (!dictionary)
            return std::nullopt;
        const auto found = dictionary->find(component);
        if (found == dictionary->end())
            return std::nullopt;
        current = &found->second;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (const std::string *text = current->asString())
        return *text;
    return std::nullopt;
}
