#pragma once

#include <string>
#include <vector>

// The item's extended attributes under their macOS names, on any volume (in the item's
// AppleDouble companion where the volume has no attributes of its own). Neither call follows
// a symbolic link. Failures throw an Error in the POSIX domain; a missing attribute is ENODATA.

// Removes the named attribute from the item at the path.
void removeExtendedAttribute(const std::string &url, const std::string &name);
// The item's attribute names; empty when it has none.
std::vector<std::string> listExtendedAttributes(const std::string &url);
