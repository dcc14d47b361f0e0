#pragma once

#include <QObject>
#include <QString>

#include <string>
#include <vector>

class QAbstractButton;

// The general switches of the user defaults, for the windows' controls to bind to. A bound
// button shows the switch and writes each change the user makes; a change made here reaches
// every button bound to that key. Main thread.
class PreferencesController : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The switches offered for binding.
    static const std::vector<std::string> &switchKeys();

    bool boolValue(const std::string &key) const;
    void setBoolValue(const std::string &key, bool value);
    void bind(QAbstractButton *button, const std::string &key);

signals:
    void valueChanged(const QString &key);
};
