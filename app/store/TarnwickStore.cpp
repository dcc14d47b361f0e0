#include "TarnwickStore.h"

#include "PreferencesSupport.h"
#include "UserDefaults.h"

TarnwickStore::TarnwickStore() = default;

TarnwickStore &TarnwickStore::sharedInstance()
{
    static TarnwickStore *instance = [] {
        auto *store = new TarnwickStore;
        store->checkDetailsVersion();
        return store;
    }();
    return *instance;
}

std::optional<Dictionary> TarnwickStore::generalPreferences()
{
    return PreferencesSupport::standardUserDefaults().dictionaryForKey("preferences");
}

void TarnwickStore::updateGeneralPreferences(const Dictionary &preferences)
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    defaults.setObject(Value(preferences), "preferences");
    defaults.synchronize();
}

bool TarnwickStore::detailedLoggingEnabled(const Date &now) const
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (!defaults.boolForKey("detailedLogging"))
        return false;
    const std::optional<Value> firstFired = defaults.objectForKey("detailedLoggingFirstFired");
    if (firstFired && firstFired->asDate() && now.timeIntervalSince(*firstFired->asDate()) > detailedLoggingDuration) {
        defaults.removeObjectForKey("detailedLoggingFirstFired");
        defaults.setObject(Value(false), "detailedLogging");
        return false;
    }
    return true;
}

void TarnwickStore::listenForChanges(NotificationCenter::Block block)
{
    NotificationCenter::defaultCenter().addObserver(didChangeNotification, nullptr, nullptr, std::move(block));
}

void TarnwickStore::listenForDetailsChanges(NotificationCenter::Block block)
{
    NotificationCenter::defaultCenter().addObserver(detailsDidChangeNotification, nullptr, nullptr, std::move(block));
}

void TarnwickStore::broadcastChanges(const std::optional<std::string> &object)
{
    Dictionary userInfo;
    if (object)
        userInfo.emplace(changedObjectKey, Value(*object));
    NotificationCenter::defaultCenter().post(didChangeNotification, nullptr, userInfo);
}

void TarnwickStore::checkDetailsVersion()
{
    PreferencesSupport::standardUserDefaults().setObject(Value(2), "currentDetailsVersion");
}
