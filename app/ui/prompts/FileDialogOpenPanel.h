#pragma once

#include "OpenPanel.h"

class QFileDialog;
class QPushButton;

// Shows open panels as Qt's own (non-native) file dialog, so that the panel's delegate decides
// which folders can be selected and confirmed.
class FileDialogOpenPanel : public OpenPanelPresenter
{
public:
    // Registers the file dialog as the presenter of every open panel. Main thread.
    static void install();

    std::int64_t present(OpenPanel &panel) override;

    // The button of Qt's file dialog that confirms it; nullptr when it has none.
    static QPushButton *acceptButton(const QFileDialog &dialog);
};
