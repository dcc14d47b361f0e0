#pragma once

#include <string>

class QWidget;

// Saves a picture of the widget as <build tree>/screenshots/<name>.png, for a reviewer to look
// at; fails the current test when it cannot be written. Returns the file's path.
std::string saveScreenshot(QWidget *widget, const std::string &name);
