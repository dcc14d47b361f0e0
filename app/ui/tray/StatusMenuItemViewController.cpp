#include "StatusMenuItemViewController.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QWidget>

#include <sys/stat.h>

#include "ui_StatusMenuView.h"
#include "Beep.h"
#include "Core.h"
#include "DateFormatter.h"
#include "GCDAdditions.h"
#include "HDIconCacheController.h"
#include "LocalizedString.h"
#include "Logger.h"
#include "StatisticsManager.h"
#include "TWVolumeInfo.h"
#include "VolumeMetaDataStatistics.h"
#include "XEngine.h"

namespace
{
constexpr int iconSide = 32;

std::optional<dev_t> deviceOf(const std::string &path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return status.st_dev;
}
}

std::optional<StatusMenuItemViewController::MountedVolume>
StatusMenuItemViewController::MountedVolume::at(const URL &volumeURL)
{
    const std::optional<dev_t> device = deviceOf(volumeURL.path());
    if (!device || !Core::isMountedVolume(volumeURL.path()))
        return std::nullopt;
    return MountedVolume{volumeURL, volumeURL.displayName(), TWKeyForDisk(volumeURL.path()), *device};
}

bool StatusMenuItemViewController::MountedVolume::isStillMounted() const
{
    const std::optional<MountedVolume> now = at(url);
    return now && now->diskKey == diskKey && now->device == device;
}

StatusMenuItemViewController::StatusMenuItemViewController() = default;

StatusMenuItemViewController::~StatusMenuItemViewController() = default;

QWidget *StatusMenuItemViewController::view()
{
    if (m_view)
        return m_view;
    m_view = new QWidget;
    Ui::StatusMenuView statusMenuView;
    statusMenuView.setupUi(m_view);
    m_icon = statusMenuView.icon;
    m_volumeName = statusMenuView.volumeName;
    m_dsStoreAppleDoubleStatsText = statusMenuView.ds_storeAppleDoubleStatsText;
    m_lastCleanDate = statusMenuView.lastCleanDate;
    m_cleanButton = statusMenuView.cleanButton;
    m_lastCleanDate->hide();
    connect(m_cleanButton, &QPushButton::clicked, this, &StatusMenuItemViewController::cleanNowAction);
    return m_view;
}

void StatusMenuItemViewController::setupWithDetailsForPath(const URL &volumeURL)
{
    if (!m_details)
        return;
    view();
    m_volume = MountedVolume::at(volumeURL);
    m_cleanButton->setText(QString::fromStdString(LSFK("Clean")));

    const QPointer<QLabel> iconLabel = m_icon;
    HDIconCacheController::shared().icon(volumeURL, [iconLabel](const QIcon &image) {
        if (!iconLabel)
            return;
        QPixmap pixmap = image.isNull() ? QPixmap() : image.pixmap(iconSide, iconSide);
        // An icon theme without a disk icon still leaves the row a disk to show.
        if (pixmap.isNull() && !image.isNull())
            pixmap = iconLabel->style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(iconSide, iconSide);
        if (pixmap.isNull())
            iconLabel->clear();
        else
            iconLabel->setPixmap(pixmap);
    });

    const QString displayName = QString::fromStdString(volumeURL.displayName());
    QString firstLine = displayName;
    const std::int64_t deleted = m_details->numberOfItemsDeleted();
    if (deleted >= 1)
        firstLine += QStringLiteral(": ")
                     + QString::fromStdString(LSFK("%ld items cleaned.")).replace(QLatin1String("%ld"), QString::number(deleted));
    m_volumeName->setText(firstLine);
    m_dsStoreAppleDoubleStatsText->setText(lastCleanedText(*m_details, displayName, m_calendarClock));
}

QString StatusMenuItemViewController::lastCleanedText(const VolumeMetaDataStatistics &details,
                                                      const QString &volumeDisplayName, const CalendarClock &clock)
{
    const std::optional<Date> lastCleaned = details.lastCleaned();
    if (!lastCleaned)
        return QStringLiteral("The disk has not been cleaned.");

    QString text;
    const QString format = QCoreApplication::translate("MinorReleaseExtraStrings", "Last cleaned: \"%@\".");
    const QString folderName = QString::fromStdString(details.lastFolderCleanedName());
    if (!folderName.isEmpty() && folderName != volumeDisplayName)
        text += QString(format).replace(QLatin1String("%@"), folderName) + QStringLiteral("  ");

    const QDate day = clock.inTimeZone(*lastCleaned).date();
    const QDate today = clock.today();
    if (day == today)
        text += QStringLiteral("Today,  ");
    else if (day == today.addDays(-1))
        text += QStringLiteral("Yesterday,  ");
    else if (day == today.addDays(1))
        text += QStringLiteral("Tomorrow,  ");
    else
        text += QString::fromStdString(DateFormatter(DateFormatter::Style::Medium, DateFormatter::Style::None)
                                           .stringFromDate(*lastCleaned))
                + QStringLiteral(" at ");
    text += QString::fromStdString(
                DateFormatter(DateFormatter::Style::None, DateFormatter::Style::Medium).stringFromDate(*lastCleaned))
            + QStringLiteral(".");
    return text;
}

QString StatusMenuItemViewController::plainTitle() const
{
    if (!m_volumeName || !m_dsStoreAppleDoubleStatsText)
        return {};
    return m_volumeName->text() + QLatin1Char('\n') + m_dsStoreAppleDoubleStatsText->text();
}

void StatusMenuItemViewController::cleanNowAction()
{
    if (!m_details)
        return;
    if (m_ownerMenu)
        m_ownerMenu->hide();
    if (!m_volume || !m_volume->isStillMounted()) {
        Beep::play();
        if (m_volume)
            Logger::shared().log("Not cleaned: " + m_volume->displayName + " (" + m_volume->url.path()
                                 + ") is no longer mounted there.");
        // The rows follow the volumes that are mounted now.
        StatisticsManager::shared().scheduleUpdate();
        return;
    }
    GCDAdditions::performBlockAfterTinyDelay(
        [volume = m_volume->url] { XEngine::cleanInResponseToUserRequest({volume}, std::nullopt); });
}
