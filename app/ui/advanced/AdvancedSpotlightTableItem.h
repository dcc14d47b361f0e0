#pragma once

#include <QString>

// A row of a list of volumes with an on/off state.
struct AdvancedSpotlightTableItem
{
    QString path;
    int enabled = 0;
    int busy = 0;
    bool originalEnabledState = false;
};
