#include "ProgressWindowWidget.h"

#include <QCloseEvent>

#include "ui_Progress.h"
#include "DeletionsLog.h"
#include "XProgressWindow.h"

ProgressWindowWidget::ProgressWindowWidget(std::weak_ptr<XProgressWindow> controller)
    : m_ui(std::make_unique<Ui::Progress>())
    , m_controller(std::move(controller))
{
    // A progress window closing is never the end of the application.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_ui->setupUi(this);
    m_manualCleanDeletions = new DeletionsLog(this);
    m_manualCleanDeletions->setObjectName(QStringLiteral("manualCleanDeletions"));
    m_ui->recentLogTable->setModel(m_manualCleanDeletions);
}

ProgressWindowWidget::~ProgressWindowWidget() = default;

void ProgressWindowWidget::cancelButton()
{
    if (const std::shared_ptr<XProgressWindow> controller = m_controller.lock())
        controller->cancelButton();
}

void ProgressWindowWidget::closeEvent(QCloseEvent *event)
{
    if (const std::shared_ptr<XProgressWindow> controller = m_controller.lock())
        controller->windowWillClose();
    event->accept();
}
