#include "AdvancedWindowController.h"

#include <QAction>
#include <QDialog>
#include <QToolBar>

#include "ui_AdvancedWindowController.h"

// Each toolbar item carries its page: "identifier" is the page's index as text, "tag" the
// window height that suits the page.
namespace
{
constexpr int heightBeforeFirstShowing = 20;
}

void AdvancedWindowController::setupToolbar()
{
    const QList<QAction *> items = m_ui->toolbar->actions();
    if (items.isEmpty())
        return;
    toolbarItemSelected(items.front());
    items.front()->setChecked(true);
}

std::vector<QString> AdvancedWindowController::toolbarSelectableItemIdentifiers() const
{
    std::vector<QString> identifiers;
    for (const QAction *item : m_ui->toolbar->actions())
        identifiers.push_back(item->property("identifier").toString());
    return identifiers;
}

void AdvancedWindowController::toolbarItemSelected(QAction *item)
{
    m_ui->tabView->setCurrentIndex(item->property("identifier").toString().toInt());
    int height = item->property("tag").toInt();
    if (!m_window->isVisible()) {
        // The window is placed when it shows; only its size is set before.
        height += heightBeforeFirstShowing;
        m_window->resize(m_window->width(), height);
        return;
    }
    // The top edge stays where it is.
    QRect frame = m_window->geometry();
    frame.setHeight(height);
    m_window->setGeometry(frame);
}
