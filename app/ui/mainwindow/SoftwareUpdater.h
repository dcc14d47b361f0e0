#pragma once

#include <QObject>

// Stands in for the software updater: the distribution updates the program, so nothing is
// ever checked; only the "automatically checks" setting is kept, in the user defaults.
class SoftwareUpdater : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *automaticallyChecksKey = "SUEnableAutomaticChecks";

    using QObject::QObject;

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool checks);
};
