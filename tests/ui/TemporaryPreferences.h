#pragma once

#include <string>

#include "TestSupport.h"
#include "Value.h"

// The standard user defaults in a file of a fresh temporary folder (with the bundle's registered
// defaults), the shared store loaded from it and saved once, as at start-up, and no save of
// an earlier test pending. The defaults go back to their former file afterwards.
class TemporaryPreferences
{
public:
    TemporaryPreferences();
    ~TemporaryPreferences();
    TemporaryPreferences(const TemporaryPreferences &) = delete;
    TemporaryPreferences &operator=(const TemporaryPreferences &) = delete;

    const TemporaryDirectory &folder() const { return m_folder; }
    // The defaults file as it is on disk, parsed afresh.
    Dictionary onDisk() const;

private:
    TemporaryDirectory m_folder;
    std::string m_file;
    std::string m_formerFile;
};
