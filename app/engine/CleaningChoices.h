#pragma once

#include <string>
#include <vector>

#include "XFSDiskOrDirectory.h"

// What the per-directory clean asks of a record, read once: a walk cleans thousands of folders
// under the same record.
struct CleaningChoices
{
    bool onlyCleanManually = false;
    bool dsStore = false;
    bool thumbsDb = false;
    bool desktopIni = false;
    bool apdisk = false;
    bool appleDouble = false;
    bool volumeAttrs = false;
    bool securityData = false;
    bool tags = false;
    bool aliasData = false;
    bool colorLabels = false;
    bool customIcons = false;
    bool appleDoubleNetatalk = false;
    bool eaDirSynology = false;
    bool iconFile = false;
    std::vector<std::string> blackList;
    std::vector<std::string> dynamicFileNames;

    static CleaningChoices of(const XFSDiskOrDirectory &record);
    // The first option item with the key decides; a missing item is off.
    static bool optionEnabled(const XFSDiskOrDirectory &record, const char *key);
};
