#pragma once

#include "OpenPanel.h"

// The open panel's delegate through which the user grants the whole start-up disk: only the
// folder "/" can be chosen, and its bookmark is kept under "rootBookmark6". Main thread.
class SelectStartupDisk : public OpenPanelDelegate
{
public:
    static constexpr const char *rootBookmarkKey = "rootBookmark6";

    bool panelShouldEnableURL(const URL &url) override;
    // True exactly for "/"; never describes an error.
    bool panelValidateURL(const URL &url, Error *error) override;

    // Runs the open panel; true when "/" was chosen and its bookmark stored.
    bool selectStartupDiskAndStoreBookmark();
};
