#pragma once

#include <QObject>
#include <QUrl>

#include <string>
#include <vector>

#include "DesktopOpener.h"

// Stands in for the desktop while it lives: records the files it was asked to open.
class OpenedFiles : public QObject
{
    Q_OBJECT

public:
    OpenedFiles();
    ~OpenedFiles() override;

    std::vector<QUrl> opened;

public slots:
    void open(const QUrl &url);
};

// Stands in for the desktop's opener while it lives: records the files it was handed and answers
// that they opened, or, told so, that nothing could open them.
class ScriptedDesktopOpener : public DesktopOpener
{
public:
    void openFile(const std::string &path, Opened opened) override;

    std::vector<std::string> handed;
    bool opens = true;
};

// Registers the scripted opener for as long as the guard lives.
class ScopedDesktopOpener
{
public:
    ScopedDesktopOpener();
    ~ScopedDesktopOpener();
    ScriptedDesktopOpener &operator*() const { return *m_opener; }
    ScriptedDesktopOpener *operator->() const { return m_opener.get(); }

private:
    std::shared_ptr<ScriptedDesktopOpener> m_opener = std::make_shared<ScriptedDesktopOpener>();
};
