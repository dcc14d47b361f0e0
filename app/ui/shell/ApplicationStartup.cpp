#include "ApplicationStartup.h"

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Beep.h"
#include "FileDialogOpenPanel.h"
#include "KeepCleanPromptWindow.h"
#include "ModifierKeySampler.h"
#include "MountWatcher.h"
#include "ProgressWindowFactory.h"
#include "TWApp.h"

namespace
{
struct HeldMessage
{
    QtMsgType type;
    QString category;
    QString text;
};

std::vector<HeldMessage> g_heldMessages;

std::string environmentValue(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || !*value)
        return "not set";
    std::string quoted(1, '"');
    quoted.append(value).push_back('"');
    return quoted;
}

// While the application object is made, Qt's messages are held back: a platform that cannot start
// ends in a fatal message, which becomes one clear line; otherwise they are let through afterwards.
void holdStartupMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        g_heldMessages.push_back({type, QString::fromUtf8(context.category ? context.category : ""), text});
        return;
    }
    const std::string line = "tarnwick: cannot open a window: no display could be reached (DISPLAY "
                             + environmentValue("DISPLAY") + ", WAYLAND_DISPLAY " + environmentValue("WAYLAND_DISPLAY")
                             + "). Tarnwick needs a desktop session.\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    ::_exit(1);
}
}

std::unique_ptr<TWApp> makeApplicationOrExplain(char *programName)
{
    // Qt keeps the arguments it is given for the application's whole life. It is given the
    // program's name only (a fixed one when the start got none, as execve permits): the user's
    // arguments were read already, and none of them may become one of Qt's own options.
    static char fallbackName[] = "tarnwick";
    static int argumentCount = 1;
    static char *arguments[] = {programName ? programName : fallbackName, nullptr};
    const QtMessageHandler previousHandler = qInstallMessageHandler(holdStartupMessage);
    auto application = std::make_unique<TWApp>(argumentCount, arguments);
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage &message : g_heldMessages) {
        const QByteArray category = message.category.toUtf8();
        const QMessageLogContext context(nullptr, 0, nullptr, category.isEmpty() ? nullptr : category.constData());
        qt_message_output(message.type, context, message.text);
    }
    g_heldMessages.clear();
    return application;
}

void installUserInterfaceServices()
{
    Beep::setPlayer([] { QApplication::beep(); });
    ModifierKeySampler::install();
    ProgressDisplayFactory::setCurrent(std::make_shared<ProgressWindowFactory>());
    FileDialogOpenPanel::install();
    KeepCleanPromptWindow::install();
    MountWatcher::shared().start();
}
