#pragma once

#include <string>

class QWidget;

// Saves a picture of the window as <build>/screenshots/<name>.png for a reviewer to look at;
// answers the file's path.
std::string saveScreenshot(QWidget *window, const std::string &name);
