// Property lists (XML and binary) and the preferences loader, fed any bytes: nothing may
// crash or throw out of a load or a save, and what is saved must load again.
#include <cstdint>
#include <filesystem>

#include "Error.h"
#include "FuzzSupport.h"
#include "PropertyList.h"
#include "UserDefaults.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        const Value value = PropertyList::parse(bytesOf(data, size));
        std::string xml;
        try {
            xml = PropertyList::toXML(value);
        } catch (const Error &) {
            return 0; // a value the writer cannot write: the preferences leave it out
        }
        PropertyList::parse(xml);
    } catch (const Error &) {
    }

    const std::string folder = fuzzFolder() + "/preferences";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/defaults.plist";
    writeWholeFile(path, bytesOf(data, size));
    try {
        UserDefaults defaults(path);
        defaults.dictionaryRepresentation();
        defaults.setObject(Value(1), "fuzz");
        defaults.synchronize();
    } catch (const std::exception &exception) {
        fuzzFinding(std::string("the preferences threw: ") + exception.what());
    }
    try {
        if (!PropertyList::readFile(path).asDictionary())
            fuzzFinding("the saved preferences are no dictionary");
    } catch (const Error &error) {
        fuzzFinding("the saved preferences do not load: " + error.localizedDescription());
    }
    return 0;
}
