#include "PreferencesController.h"

#include <QAbstractButton>
#include <QPointer>

#include "PreferencesSupport.h"
#include "UserDefaults.h"

const std::vector<std::string> &PreferencesController::switchKeys()
{
    static const std::vector<std::string> keys = {
        "simulation",
        "logDeletions",
        "statusItemVisible",
        "detailedLogging",
        "kTWShowInDockKey",
        "NEVER_SHOW_WINDOW_ON_LAUNCH",
        "scheduledCleaningAutoCloseWindow",
        "HFSWarning",
    };
    return keys;
}

bool PreferencesController::boolValue(const std::string &key) const
{
    return PreferencesSupport::standardUserDefaults().boolForKey(key);
}

void PreferencesController::setBoolValue(const std::string &key, bool value)
{
    if (PreferencesSupport::standardUserDefaults().objectForKey(key) && boolValue(key) == value)
        return;
    PreferencesSupport::standardUserDefaults().setObject(Value(value), key);
    emit valueChanged(QString::fromStdString(key));
}

void PreferencesController::bind(QAbstractButton *button, const std::string &key)
{
    if (!button)
        return;
    button->setCheckable(true);
    button->setChecked(boolValue(key));
    const QString name = QString::fromStdString(key);
    QPointer<QAbstractButton> guarded(button);
    connect(this, &PreferencesController::valueChanged, button, [this, guarded, name, key](const QString &changed) {
        if (guarded && changed == name && guarded->isChecked() != boolValue(key))
            guarded->setChecked(boolValue(key));
    });
    connect(button, &QAbstractButton::toggled, this, [this, key](bool checked) { setBoolValue(key, checked); });
}
