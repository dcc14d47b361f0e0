#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TallowExport.h"
#include "Value.h"

// What one application hands another: a property list per declared type, types in the order
// they were declared.
class TALLOW_EXPORT Pasteboard
{
public:
    // An Array of path strings.
    static constexpr const char *filenamesType = "NSFilenamesPboardType";
    // A String.
    static constexpr const char *stringType = "NSStringPboardType";

    // A pasteboard holding the paths under filenamesType.
    static Pasteboard withFileNames(const std::vector<std::string> &paths);

    std::vector<std::string> types() const;
    // Declares the type when it is new, and replaces its property list otherwise.
    void setPropertyList(const Value &propertyList, const std::string &type);
    std::optional<Value> propertyListForType(const std::string &type) const;

private:
    std::vector<std::pair<std::string, Value>> m_contents;
};
