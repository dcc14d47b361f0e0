#pragma once

class MainUIController;
class QMenu;

// One controller loaded from the interface files for the whole test program, as the
// application loads it. When the main window holds no tray menu yet, it gets one with the
// menu's fixed shape: a separator, then two commands.
MainUIController &mainUIControllerForTests();
