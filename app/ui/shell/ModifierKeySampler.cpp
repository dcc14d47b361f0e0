#include "ModifierKeySampler.h"

#include "ModifierKeys.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace
{
// A key event of a modifier key itself may carry the state before the key moved.
Qt::KeyboardModifiers modifiersAfter(const QKeyEvent &event)
{
    Qt::KeyboardModifiers modifiers = event.modifiers();
    Qt::KeyboardModifier changed;
    switch (event.key()) {
    case Qt::Key_Shift:
        changed = Qt::ShiftModifier;
        break;
    case Qt::Key_Control:
        changed = Qt::ControlModifier;
        break;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        changed = Qt::AltModifier;
        break;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        changed = Qt::MetaModifier;
        break;
    default:
        return modifiers;
    }
    modifiers.setFlag(changed, event.type() == QEvent::KeyPress);
    return modifiers;
}
}

void ModifierKeySampler::install()
{
    static ModifierKeySampler *sampler = nullptr;
    if (sampler)
        return;
    sampler = new ModifierKeySampler(qApp);
    qApp->installEventFilter(sampler);
    ModifierKeys::record(flagsFromModifiers(QGuiApplication::queryKeyboardModifiers()));
    // Only X11 asks the keyboard itself; elsewhere the query gives the last event's
    // state, which the samples already hold.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        ModifierKeys::setLiveReader([] { return flagsFromModifiers(QGuiApplication::queryKeyboardModifiers()); });
}

std::uint64_t ModifierKeySampler::flagsFromModifiers(Qt::KeyboardModifiers modifiers)
{
    std::uint64_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= ModifierKeys::shiftKeyMask;
    if (modifiers & Qt::ControlModifier)
        flags |= ModifierKeys::controlKeyMask;
    if (modifiers & Qt::AltModifier)
        flags |= ModifierKeys::optionKeyMask;
    if (modifiers & Qt::MetaModifier)
        flags |= ModifierKeys::commandKeyMask;
    return flags;
}

bool ModifierKeySampler::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        ModifierKeys::record(flagsFromModifiers(modifiersAfter(*static_cast<QKeyEvent *>(event))));
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        ModifierKeys::record(flagsFromModifiers(static_cast<QInputEvent *>(event)->modifiers()));
        break;
    case QEvent::ApplicationStateChange:
        // Keys released while another application had the keyboard sent us nothing.
        ModifierKeys::record(flagsFromModifiers(QGuiApplication::queryKeyboardModifiers()));
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
