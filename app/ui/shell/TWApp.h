#pragma once

#include <QApplication>

class QKeyEvent;

// The application object. Ctrl stands for the Mac's Command key in its editing shortcuts: Ctrl
// alone (Caps Lock does not count) with x, c, v, z, a or w sends cut, copy, paste, undo, selectAll
// to the focus widget (or the first of its parents up to its window that has the slot), and close
// to the active window; Ctrl+Shift+z sends redo. Alt or Meta makes no match. A shortcut nobody
// takes goes on as a key press like any other.
class TWApp : public QApplication
{
    Q_OBJECT

public:
    TWApp(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // The application's names, icon and lifetime: it is "Tarnwick" to the user, and closing its
    // last window does not end it (only Quit does).
    static void setUpApplication(QApplication &application);

    // The slot the key press asks for ("cut", "redo", "close" ...), or null when it is none of the
    // table's.
    static const char *editingActionFor(const QKeyEvent &event);
    // The editing-shortcut table applied to an event on its way to the receiver: true when the
    // event was a shortcut that was sent and handled, so that it must go no further. Spontaneous
    // key presses only; the shortcut-override query that precedes them is claimed for the same
    // keys, so that no menu shortcut takes them first.
    static bool handleEditingShortcut(QObject *receiver, QEvent *event);
};
