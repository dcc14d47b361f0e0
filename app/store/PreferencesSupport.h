#pragma once

class UserDefaults;

// The standard user defaults, with the bundle's "Defaults" list registered on first use.
class PreferencesSupport
{
public:
    static UserDefaults &standardUserDefaults();
    // Registers the bundle's "Defaults" list with the defaults; false when it cannot be read.
    // The first call of standardUserDefaults does this once; a test that points the
    // defaults at a new file (which forgets the registration) calls it again.
    static bool registerBundleDefaults(UserDefaults &defaults);
};
