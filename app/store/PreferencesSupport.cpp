#include "PreferencesSupport.h"

#include <mutex>

#include "Bundle.h"
#include "Error.h"
#include "PropertyList.h"
#include "SystemLog.h"
#include "UserDefaults.h"

UserDefaults &PreferencesSupport::standardUserDefaults()
{
    UserDefaults &defaults = UserDefaults::standardUserDefaults();
    // One attempt per run: a missing resource is not looked for again.
    static std::once_flag registered;
    std::call_once(registered, [&defaults] { registerBundleDefaults(defaults); });
    return defaults;
}

bool PreferencesSupport::registerBundleDefaults(UserDefaults &defaults)
{
    const std::optional<std::string> path = Bundle::main().pathForResource("Defaults", "plist");
    if (!path)
        return false;
    try {
        const Value list = PropertyList::readFile(*path);
        if (const Dictionary *dictionary = list.asDictionary()) {
            defaults.registerDefaults(*dictionary);
            return true;
        }
        SystemLog::write("The registered defaults " + *path + " are no dictionary; none are registered.");
    } catch (const Error &error) {
        SystemLog::write("The registered defaults " + *path + " cannot be read: " + error.localizedDescription());
    }
    return false;
}
