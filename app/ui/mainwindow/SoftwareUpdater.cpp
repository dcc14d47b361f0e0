#include "SoftwareUpdater.h"

#include "PreferencesSupport.h"
#include "UserDefaults.h"

bool SoftwareUpdater::automaticallyChecksForUpdates() const
{
    return PreferencesSupport::standardUserDefaults().boolForKey(automaticallyChecksKey);
}

void SoftwareUpdater::setAutomaticallyChecksForUpdates(bool checks)
{
    PreferencesSupport::standardUserDefaults().setObject(Value(checks), automaticallyChecksKey);
}
