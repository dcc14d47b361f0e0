#pragma once

#include <QObject>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "Value.h"

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

    // The general preferences, as the Advanced sheet last saved them.
    const std::optional<Dictionary> &content() const { return m_content; }
    void setContent(const std::optional<Dictionary> &content) { m_content = content; }

signals:
    void valueChanged(const QString &key);

private:
    std::optional<Dictionary> m_content;
};
