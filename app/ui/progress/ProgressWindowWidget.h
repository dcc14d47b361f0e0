#pragma once

#include <QWidget>

#include <memory>

namespace Ui
{
class Progress;
}

class DeletionsLog;
class XProgressWindow;

// The window of a progress window controller, built from the "Progress" interface
// file: it hands its close and its Cancel button to the controller. Its bars animate only while
// they are busy, so that a window left open after its clean costs nothing.
class ProgressWindowWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ProgressWindowWidget(std::weak_ptr<XProgressWindow> controller);
    ~ProgressWindowWidget() override;

    Ui::Progress &outlets() { return *m_ui; }
    // The list that the deletions table shows.
    DeletionsLog *manualCleanDeletions() const { return m_manualCleanDeletions; }

public slots:
    void cancelButton();

protected:
    void closeEvent(QCloseEvent *event) override;
    // Stops the style's animation of a bar that is no longer busy.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::Progress> m_ui;
    DeletionsLog *m_manualCleanDeletions = nullptr;
    std::weak_ptr<XProgressWindow> m_controller;
};
