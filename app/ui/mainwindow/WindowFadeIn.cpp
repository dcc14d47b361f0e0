#include "WindowFadeIn.h"

#include <QPropertyAnimation>
#include <QWidget>

namespace
{
constexpr const char *fadeInName = "makeKeyAndOrderFrontFadeIn";
}

void makeKeyAndOrderFrontFadeIn(QWidget *window)
{
    // A fade still running from an earlier call would fight this one.
    delete window->findChild<QPropertyAnimation *>(QLatin1String(fadeInName), Qt::FindDirectChildrenOnly);
    window->setWindowOpacity(0.0);
    window->show();
    window->raise();
    window->activateWindow();
    auto *animation = new QPropertyAnimation(window, "windowOpacity", window);
    animation->setObjectName(QLatin1String(fadeInName));
    animation->setDuration(1000);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
