#include "TWApp.h"

#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QWidget>

#include "Bundle.h"

namespace
{
struct EditingShortcut
{
    int key;
    bool withShift;
    const char *action;
};

constexpr EditingShortcut editingShortcuts[] = {
    {Qt::Key_X, false, "cut"},     {Qt::Key_C, false, "copy"},      {Qt::Key_V, false, "paste"},
    {Qt::Key_Z, false, "undo"},    {Qt::Key_A, false, "selectAll"}, {Qt::Key_W, false, "close"},
    {Qt::Key_Z, true, "redo"},
};

bool hasSlot(const QObject *object, const char *action)
{
    return object->metaObject()->indexOfSlot((QByteArray(action) + "()").constData()) >= 0;
}

// Where the action goes: the active window for close; otherwise the focus widget or, like a
// responder chain, the nearest of its parents within its window that has the slot.
QObject *targetFor(const char *action)
{
    if (qstrcmp(action, "close") == 0)
        return QApplication::activeWindow();
    for (QWidget *widget = QApplication::focusWidget(); widget; widget = widget->parentWidget()) {
        if (hasSlot(widget, action))
            return widget;
        if (widget->isWindow())
            break;
    }
    return nullptr;
}
}

TWApp::TWApp(int &argc, char **argv) : QApplication(argc, argv)
{
    setUpApplication(*this);
}

void TWApp::setUpApplication(QApplication &application)
{
    QApplication::setApplicationDisplayName(QStringLiteral("Tarnwick"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));
    application.setQuitOnLastWindowClosed(false);
    const QString bundledIcon = QString::fromStdString(Bundle::main().resourcesPath() + "/tarnwick.svg");
    QIcon icon = QIcon::fromTheme(QStringLiteral("tarnwick"));
    if (icon.isNull() && QFileInfo::exists(bundledIcon))
        icon = QIcon(bundledIcon);
    if (!icon.isNull())
        QApplication::setWindowIcon(icon);
}

bool TWApp::notify(QObject *receiver, QEvent *event)
{
    if (handleEditingShortcut(receiver, event))
        return true;
    return QApplication::notify(receiver, event);
}

const char *TWApp::editingActionFor(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers pressed =
        event.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    for (const EditingShortcut &shortcut : editingShortcuts) {
        const Qt::KeyboardModifiers wanted =
            shortcut.withShift ? (Qt::ControlModifier | Qt::ShiftModifier) : Qt::KeyboardModifiers(Qt::ControlModifier);
        if (event.key() == shortcut.key && pressed == wanted)
            return shortcut.action;
    }
    return nullptr;
}

bool TWApp::handleEditingShortcut(QObject *, QEvent *event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const char *action = editingActionFor(*keyEvent);
    if (!action)
        return false;
    QObject *target = targetFor(action);
    if (!target)
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // Claimed so that no menu shortcut takes the key press first.
        event->accept();
        return true;
    }
    if (!event->spontaneous())
        return false;
    return QMetaObject::invokeMethod(target, action);
}
