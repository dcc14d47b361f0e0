#include "ResourcesSupport.h"

#include "Bundle.h"
#include "Error.h"
#include "PropertyList.h"

Bundle &ResourcesSupport::currentBundle()
{
    return Bundle::main();
}

std::optional<std::string> ResourcesSupport::pathForResourceWithName(const std::string &name)
{
    return currentBundle().pathForResource(name, "");
}

std::optional<Dictionary> ResourcesSupport::dictionaryWithName(const std::string &name)
{
    const std::optional<std::string> path = pathForResourceWithName(name);
    if (!path || path->empty())
        return Dictionary();
    try {
        const Value list = PropertyList::readFile(*path);
        if (const Dictionary *dictionary = list.asDictionary())
            return *dictionary;
    } catch (const Error &) {
        // Unreadable bytes are answered like a file that holds no dictionary.
    }
    return std::nullopt;
}
