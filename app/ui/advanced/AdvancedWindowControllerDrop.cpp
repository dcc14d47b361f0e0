#include "AdvancedWindowController.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QTableView>

#include <iostream>

#include "DragURL.h"
#include "URL.h"
#include "ui_AdvancedWindowController.h"

bool AdvancedWindowController::isValidItemForBlackList(const QMimeData *drag)
{
    const std::optional<std::string> path = urlFromDrag(drag);
    if (!path)
        return false;
    const std::optional<bool> isVolume = URL::fileURLWithPath(*path).value<bool>(URLValues::isVolumeKey);
    return isVolume && !*isVolume;
}

Qt::DropAction AdvancedWindowController::tableViewValidateDrop(const QMimeData *drag) const
{
    return isValidItemForBlackList(drag) ? Qt::LinkAction : Qt::IgnoreAction;
}

bool AdvancedWindowController::tableViewAcceptDrop(const QMimeData *drag)
{
    if (const std::optional<std::string> path = urlFromDrag(drag)) {
        addNewBlackListItem(URL::fileURLWithPath(*path).lastPathComponent());
        std::cout << *path << std::endl;
    }
    return true;
}

void AdvancedWindowController::addNewBlackListItem(const std::string &name)
{
    for (const Value &row : m_blacklistController->content()) {
        const std::string *existing = stringEntry(row, "name");
        if (existing && *existing == name)
            return;
    }
    m_blacklistController->addObject(Dictionary{{"name", Value(name)}});
}

// The black-list table's drops are decided here rather than by the table's model.
bool AdvancedWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_ui->blackListTable->viewport())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        const Qt::DropAction action = tableViewValidateDrop(drag->mimeData());
        if (action == Qt::IgnoreAction) {
            drag->ignore();
        } else {
            drag->setDropAction(action);
            drag->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (tableViewAcceptDrop(drop->mimeData())) {
            drop->setDropAction(Qt::LinkAction);
            drop->accept();
        }
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
