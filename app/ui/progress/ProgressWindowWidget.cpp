#include "ProgressWindowWidget.h"

#include <QCloseEvent>
#include <QProgressBar>

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
    m_ui->progressBar->installEventFilter(this);
    m_ui->progressSpinner->installEventFilter(this);
}

ProgressWindowWidget::~ProgressWindowWidget() = default;

void ProgressWindowWidget::cancelButton()
{
    if (const std::shared_ptr<XProgressWindow> controller = m_controller.lock())
        controller->cancelButton();
}

bool ProgressWindowWidget::eventFilter(QObject *watched, QEvent *event)
{
    // A style animates a busy bar until a frame is refused; some (Fusion) never stop by themselves
    // once the bar has become determinate and empty.
    const auto *bar = qobject_cast<const QProgressBar *>(watched);
    if (bar && event->type() == QEvent::StyleAnimationUpdate && (bar->minimum() != 0 || bar->maximum() != 0)) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ProgressWindowWidget::closeEvent(QCloseEvent *event)
{
    if (const std::shared_ptr<XProgressWindow> controller = m_controller.lock())
        controller->windowWillClose();
    event->accept();
}
