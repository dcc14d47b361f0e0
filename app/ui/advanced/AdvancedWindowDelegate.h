#pragma once

#include <optional>

#include "Value.h"

// What the Advanced sheet asks of the main window that it is a sheet on.
class AdvancedWindowDelegate
{
public:
    virtual ~AdvancedWindowDelegate() = default;

    // The main window's pending checklist changes reach the store.
    virtual void storeAnyChangesToFlags() = 0;
    // The main window's preferences controller takes the general preferences as its content.
    virtual void setPreferencesContent(const std::optional<Dictionary> &generalPreferences) = 0;
};
