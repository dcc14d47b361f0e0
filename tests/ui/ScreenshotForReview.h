#pragma once

#include <string>

class QWidget;

// Saves a picture of the widget as build/screenshots/NAME.png for a reviewer to look at;
// returns the file's path (empty when it could not be written).
std::string saveScreenshotForReview(QWidget *widget, const std::string &name);
