#pragma once

class QWidget;

// Shows the window in front, active, fading in from transparent over one second.
void makeKeyAndOrderFrontFadeIn(QWidget *window);
