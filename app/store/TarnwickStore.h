#pragma once

#include <functional>
#include <optional>
#include <string>

#include "NotificationCenter.h"
#include "Value.h"

// The general preferences ("preferences" in the user defaults), the detailed-logging switch
// and the store's two change notifications. All state lives in the user defaults.
class TarnwickStore
{
public:
    static constexpr const char *didChangeNotification = "kTarnwickStoreDidChangeNotification";
    static constexpr const char *detailsDidChangeNotification = "kTarnwickStoreDetailsDidChangeNotification";
    // The user-info key under which a change notification carries its object (a storage key).
    static constexpr const char *changedObjectKey = "object";
    static constexpr double detailedLoggingDuration = 43200.0;

    static TarnwickStore &sharedInstance();

    // The dictionary stored under "preferences"; nullopt when there is none.
    static std::optional<Dictionary> generalPreferences();
    // Stores the dictionary under "preferences" and writes it out.
    static void updateGeneralPreferences(const Dictionary &preferences);

    // "detailedLogging", switched off (for good) once twelve hours have passed since it first fired.
    bool detailedLoggingEnabled(const Date &now = Date::now()) const;

    // The block runs on the posting thread for as long as the process lives.
    void listenForChanges(NotificationCenter::Block block);
    void listenForDetailsChanges(NotificationCenter::Block block);
    void broadcastChanges(const std::optional<std::string> &object);

    void checkDetailsVersion();

private:
    TarnwickStore();
};
