#include "TemporaryPreferences.h"

#include "GCDAdditions.h"
#include "PreferencesSupport.h"
#include "PropertyList.h"
#include "UserDefaults.h"
#include "XTWStore.h"

TemporaryPreferences::TemporaryPreferences()
    : m_file(m_folder.file("org.tarnwick.Tarnwick.plist"))
{
    GCDAdditions::cancelBlockWithName(XTWStore::saveThrottleName);
    // The process's one registration of the bundle defaults happens before the switch.
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    m_formerFile = defaults.filePath();
    defaults.setFilePathForTesting(m_file);
    PreferencesSupport::registerBundleDefaults(defaults);
    XTWStore::shared().load();
    XTWStore::shared().save();
}

TemporaryPreferences::~TemporaryPreferences()
{
    GCDAdditions::cancelBlockWithName(XTWStore::saveThrottleName);
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setFilePathForTesting(m_formerFile);
    PreferencesSupport::registerBundleDefaults(defaults);
    XTWStore::shared().load();
}

Dictionary TemporaryPreferences::onDisk() const
{
    const Value root = PropertyList::parse(readFile(m_file));
    return root.asDictionary() ? *root.asDictionary() : Dictionary();
}
