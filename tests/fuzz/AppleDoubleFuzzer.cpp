// The AppleDouble reader and rewriter: a companion that parses is listed, each attribute read,
// then removed one by one; every rewritten companion must parse again and keep the rest.
#include <cstdint>

#include "AppleDoubleFile.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    auto file = AppleDoubleFile::parse(Data(data, data + size));
    if (!file)
        return 0;
    std::vector<std::string> names = file->attributeNames();
    for (const std::string &name : names)
        file->value(name);
    while (!names.empty()) {
        const std::string name = names.front();
        names.erase(names.begin());
        if (!file->removeAttribute(name))
            fuzzFinding("a listed attribute cannot be removed: " + name);
        const auto again = AppleDoubleFile::parse(file->serialized());
        if (!again)
            fuzzFinding("the rewritten companion does not parse");
        if (again->attributeNames() != names)
            fuzzFinding("the rewritten companion lists other attributes");
        file = again;
    }
    return 0;
}
