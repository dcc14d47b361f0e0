#pragma once

#include <optional>
#include <string>
#include <vector>

#include "URL.h"
#include "Value.h"

// The diagnostics report the help button writes when Alt is held: the facts of every writable
// volume and the general preferences, as plain text for a support request.
class DiagnosticsReport
{
public:
    // Per volume, in order: its path and type, mounted-on and mounted-from, six YES/NO lines,
    // its disk key and the facts lookup's result; then "Preferences: " and their description.
    static std::string text(const std::vector<URL> &volumes, const std::optional<Dictionary> &generalPreferences);
    // "Tarnwick Info <UUID>.txt" in the temporary folder, with a new upper-case UUID.
    static std::string newPath();
    // Writes the report whole or not at all, in UTF-8, into a new file only its owner can read
    // (mode 0600); false when it cannot be written, or when anything (a link too) is at the path.
    static bool write(const std::string &path, const std::string &text);
    // A property-list value in the old-style text form a dictionary describes itself in:
    // "{\n    key = value;\n}", "(\n    a,\n    b\n)", "<0a1b2c3d>"; "(null)" for none.
    static std::string description(const std::optional<Value> &value);
};
