#pragma once

#include <QLabel>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

#include "CalendarClock.h"
#include "URL.h"

class VolumeMetaDataStatistics;

// One volume's row in the tray menu, from the interface file StatusMenuView.ui: the volume's
// icon, name and count of items cleaned, when it was last cleaned, and a "Clean" button.
class StatusMenuItemViewController : public QObject
{
    Q_OBJECT

public:
    StatusMenuItemViewController();
    ~StatusMenuItemViewController() override;

    // Loads the interface file once; the view belongs to whoever shows it (the menu's action).
    QWidget *view();
    void setDetails(std::shared_ptr<VolumeMetaDataStatistics> details) { m_details = std::move(details); }
    const std::shared_ptr<VolumeMetaDataStatistics> &details() const { return m_details; }
    void setOwnerMenu(QMenu *menu) { m_ownerMenu = menu; }
    void setCalendarClock(CalendarClock clock) { m_calendarClock = std::move(clock); }

    // Fills the row for the volume and notes which volume it is; nothing without details.
    void setupWithDetailsForPath(const URL &volumeURL);
    // The row's two lines, as a plain-text menu title shows them.
    QString plainTitle() const;

    QLabel *icon() const { return m_icon; }
    QLabel *volumeName() const { return m_volumeName; }
    QLabel *dsStoreAppleDoubleStatsText() const { return m_dsStoreAppleDoubleStatsText; }
    QLabel *lastCleanDate() const { return m_lastCleanDate; }
    QPushButton *cleanButton() const { return m_cleanButton; }

    // The second line for a volume of that display name, in the calendar's days.
    static QString lastCleanedText(const VolumeMetaDataStatistics &details, const QString &volumeDisplayName,
                                   const CalendarClock &clock);

public slots:
    // Closes the menu, then cleans the row's volume as the user's request, provided the very
    // volume the row was made for is still mounted; otherwise beeps, logs and cleans nothing.
    void cleanNowAction();

private:
    // A mounted volume as it was when the row was filled: a later mount at the same place, even
    // of a disk with the same name and size, is another volume.
    struct MountedVolume
    {
        URL url;
        std::string displayName;
        std::string diskKey;
        dev_t device = 0;

        static std::optional<MountedVolume> at(const URL &volumeURL);
        bool isStillMounted() const;
    };

    std::optional<MountedVolume> m_volume;
    QPointer<QWidget> m_view;
    QPointer<QLabel> m_icon;
    QPointer<QLabel> m_volumeName;
    QPointer<QLabel> m_dsStoreAppleDoubleStatsText;
    QPointer<QLabel> m_lastCleanDate;
    QPointer<QPushButton> m_cleanButton;
    QPointer<QMenu> m_ownerMenu;
    std::shared_ptr<VolumeMetaDataStatistics> m_details;
    CalendarClock m_calendarClock;
};
