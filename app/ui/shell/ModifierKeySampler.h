#pragma once

#include <QObject>

#include <cstdint>

class QEvent;

// Samples the modifier keys on the main thread for ModifierKeys: the state
// carried by every input event the application sees and, on X11 when asked on
// the main thread, the keyboard's state at that moment. Elsewhere (Wayland, the
// offscreen platform) it is the state of the last input event.
class ModifierKeySampler : public QObject
{
    Q_OBJECT

public:
    // Installs the sampler on the application once; later calls do nothing. Main thread.
    static void install();

    static std::uint64_t flagsFromModifiers(Qt::KeyboardModifiers modifiers);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
};
