#include "MainUIControllerForTests.h"

#include <QMenu>

#include "MainUIController.h"

MainUIController &mainUIControllerForTests()
{
    static MainUIController *controller = [] {
        MainUIController *loaded = MainUIController::loadFromInterfaceFile();
        if (!loaded->statusItems()) {
            auto *menu = new QMenu;
            menu->setObjectName(QStringLiteral("statusItems"));
            menu->addSeparator();
            menu->addAction(QStringLiteral("Open Tarnwick"));
            menu->addAction(QStringLiteral("Quit Tarnwick"));
            loaded->setStatusItems(menu);
        }
        return loaded;
    }();
    return *controller;
}
