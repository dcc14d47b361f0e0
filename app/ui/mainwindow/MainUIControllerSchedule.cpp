#include "MainUIController.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <set>

#include "CalendarClock.h"
#include "Core.h"
#include "GCDAdditions.h"
#include "KeyedArchive.h"
#include "LocalizedString.h"
#include "NotificationCenter.h"
#include "OperationQueue.h"
#include "PreferencesSupport.h"
#include "TWVolumeInfo.h"
#include "UserDefaults.h"
#include "WakeWatcher.h"
#include "XEngine.h"
#include "XTWStore.h"

struct MainUIController::ScheduleState
{
    CalendarClock calendarClock;
    std::function<std::vector<URL>()> volumes = [] { return Core::buildRWVolumeURLList(); };
    std::function<void(const std::vector<URL> &)> cleaner = [](const std::vector<URL> &urls) {
        XEngine::cleanScheduled(urls);
    };
    float rearmDelay = 5.0f;
    QTimer *hourlyTimer = nullptr;
    QComboBox *scheduleDayChoice = nullptr;
    std::optional<QDateTime> fireDate;
    // The moment the timer last fired for: it is never armed for it again, however early it fired.
    std::optional<QDateTime> lastFireDate;
    NotificationCenter::ObserverToken wakeObserver;
};

namespace
{
constexpr const char *scheduledCleaningEnabledKey = "scheduledCleaningEnabled";
constexpr const char *scheduledCleaningDateKey = "scheduledCleaningDate";
constexpr const char *scheduleDayKey = "scheduleDay";
constexpr const char *setupScheduledCleanOptionsSelector = "setupScheduledCleanOptions:";
constexpr std::chrono::seconds rearmInterval{3600};

Date dateOf(const QDateTime &moment)
{
    return Date{static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0};
}

bool isVolumeRoot(const std::string &path)
{
    const std::optional<URL> volume = URL::fileURLWithPath(path).volume();
    return volume && volume->path() == URL::fileURLWithPath(path).path();
}
}

MainUIController::ScheduleState &MainUIController::scheduleState() const
{
    if (!m_scheduleState)
        m_scheduleState = std::make_shared<ScheduleState>();
    return *m_scheduleState;
}

const CalendarClock &MainUIController::calendarClock() const
{
    return scheduleState().calendarClock;
}

void MainUIController::setCalendarClock(const CalendarClock &clock)
{
    scheduleState().calendarClock = clock;
}

void MainUIController::setScheduleSources(std::function<std::vector<URL>()> volumes,
                                          std::function<void(const std::vector<URL> &)> cleaner)
{
    scheduleState().volumes = std::move(volumes);
    scheduleState().cleaner = std::move(cleaner);
}

void MainUIController::setScheduleRearmDelay(float seconds)
{
    scheduleState().rearmDelay = seconds;
}

std::optional<QDateTime> MainUIController::scheduledCleaningFireDate() const
{
    if (!m_scheduleCleanTimer)
        return std::nullopt;
    return scheduleState().fireDate;
}

void MainUIController::setupScheduledUI()
{
    ScheduleState &state = scheduleState();
    state.hourlyTimer = new QTimer(this);
    state.hourlyTimer->setInterval(rearmInterval);
    connect(state.hourlyTimer, &QTimer::timeout, this, &MainUIController::setupScheduledCleanOptions);
    state.hourlyTimer->start();

    state.wakeObserver = NotificationCenter::workspaceCenter().addObserver(
        WakeWatcher::DidWakeNotification, nullptr, &OperationQueue::main(),
        [this](const Notification &) { setupScheduledCleanOptions(); });
    WakeWatcher::shared().start();

    if (m_scheduleHelpText)
        m_scheduleHelpText->setPlainText(QString::fromStdString(LSFK(
            "Enable scheduled cleaning to have Tarnwick clean connected disks at a specific time. This is useful to "
            "keep clean network disks or shared disks which are being accessed by Macs which aren\u2019t using "
            "Tarnwick.\n\nNote: Your computer must be awake at the specified cleaning time. Only connected disks "
            "will be cleaned.")));
    bindScheduleControls();
}

void MainUIController::bindScheduleControls()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (m_scheduleOptionsEnabledCheckbox) {
        m_scheduleOptionsEnabledCheckbox->setChecked(defaults.boolForKey(scheduledCleaningEnabledKey));
        // The stored setting changes before the action runs, as a binding does.
        connect(m_scheduleOptionsEnabledCheckbox, &QAbstractButton::toggled, this, [](bool checked) {
            PreferencesSupport::standardUserDefaults().setObject(Value(checked), scheduledCleaningEnabledKey);
        });
    }
    ScheduleState &state = scheduleState();
    state.scheduleDayChoice = m_scheduleView ? m_scheduleView->findChild<QComboBox *>("scheduleDayChoice") : nullptr;
    if (state.scheduleDayChoice) {
        const std::int64_t day = defaults.integerForKey(scheduleDayKey);
        state.scheduleDayChoice->setCurrentIndex(day == 1 || day == 2 ? static_cast<int>(day) : 0);
        connect(state.scheduleDayChoice, &QComboBox::currentIndexChanged, this, [](int index) {
            PreferencesSupport::standardUserDefaults().setObject(Value(index), scheduleDayKey);
        });
    }
}

void MainUIController::setupScheduledCleanOptions()
{
    if (m_scheduleOptionsDatePicker)
        connect(m_scheduleOptionsDatePicker, &QTimeEdit::timeChanged, this,
                &MainUIController::scheduledCleaningOptionsChanged, Qt::UniqueConnection);
    if (m_scheduleOptionsEnabledCheckbox)
        connect(m_scheduleOptionsEnabledCheckbox, &QAbstractButton::clicked, this,
                &MainUIController::scheduledCleaningOptionsChanged, Qt::UniqueConnection);

    ScheduleState &state = scheduleState();
    if (m_scheduleCleanTimer) {
        // This may run from the timer's own signal.
        m_scheduleCleanTimer->stop();
        m_scheduleCleanTimer->deleteLater();
        m_scheduleCleanTimer = nullptr;
    }
    state.fireDate.reset();

    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (const std::optional<Value> stored = defaults.objectForKey(scheduledCleaningDateKey); stored && stored->asData())
        if (const std::optional<Date> picked = KeyedArchive::unarchivedDate(*stored->asData()); picked && m_scheduleOptionsDatePicker) {
            const QSignalBlocker quiet(m_scheduleOptionsDatePicker);
            const QTime time = state.calendarClock.inTimeZone(*picked).time();
            m_scheduleOptionsDatePicker->setTime(QTime(time.hour(), time.minute()));
        }

    if (!defaults.boolForKey(scheduledCleaningEnabledKey))
        return;

    const QDateTime now = state.calendarClock.now();
    QDateTime fireDate = pickedTimeOn(now.date());
    // A day later in the calendar, not 86,400 seconds: the picked time holds across a clock change.
    if (fireDate <= now || fireDate == state.lastFireDate)
        fireDate = pickedTimeOn(now.date().addDays(1));
    const qint64 interval = now.msecsTo(fireDate);
    if (interval <= 0)
        return;

    m_scheduleCleanTimer = new QTimer(this);
    m_scheduleCleanTimer->setObjectName(QStringLiteral("scheduleCleanTimer"));
    m_scheduleCleanTimer->setSingleShot(true);
    m_scheduleCleanTimer->setTimerType(Qt::PreciseTimer);
    connect(m_scheduleCleanTimer, &QTimer::timeout, this, &MainUIController::scheduledCleaningTimerFired);
    state.fireDate = fireDate;
    m_scheduleCleanTimer->start(std::chrono::milliseconds(interval));
}

QDateTime MainUIController::pickedTimeOn(const QDate &day) const
{
    const QTime picked = m_scheduleOptionsDatePicker ? m_scheduleOptionsDatePicker->time() : QTime(0, 0);
    return QDateTime(day, QTime(picked.hour(), picked.minute()), calendarClock().timeZone());
}

void MainUIController::scheduledCleaningOptionsChanged()
{
    const QDateTime picked = pickedTimeOn(calendarClock().today());
    PreferencesSupport::standardUserDefaults().setObject(Value(KeyedArchive::archivedDataWithDate(dateOf(picked))),
                                                         scheduledCleaningDateKey);
    cancelPreviousPerformRequests(setupScheduledCleanOptionsSelector);
    performAfterDelay(setupScheduledCleanOptionsSelector, scheduleState().rearmDelay,
                      [this] { setupScheduledCleanOptions(); });
}

bool MainUIController::scheduleShouldFireOnThisDay() const
{
    const std::int64_t scheduleDay = PreferencesSupport::standardUserDefaults().integerForKey(scheduleDayKey);
    if (scheduleDay != 1 && scheduleDay != 2)
        return true;
    const QDate today = calendarClock().today();
    if (!today.isValid())
        return true;
    const int weekday = today.dayOfWeek();
    const bool weekend = weekday == Qt::Saturday || weekday == Qt::Sunday;
    return weekend ? scheduleDay == 2 : scheduleDay == 1;
}

void MainUIController::scheduledCleaningTimerFired()
{
    ScheduleState &state = scheduleState();
    state.lastFireDate = state.fireDate;
    // A schedule switched off since the timer was armed cleans nothing.
    if (!PreferencesSupport::standardUserDefaults().boolForKey(scheduledCleaningEnabledKey) || !scheduleShouldFireOnThisDay()) {
        setupScheduledCleanOptions();
        return;
    }
    GCDAdditions::defaultInstance().serially([this, volumes = state.volumes, cleaner = state.cleaner] {
        const std::vector<URL> urls = collectScheduledCleaningURLs(volumes());
        if (!urls.empty())
            cleaner(urls);
        GCDAdditions::onMain([this] { setupScheduledCleanOptions(); });
    });
}

std::vector<URL> MainUIController::collectScheduledCleaningURLs(const std::vector<URL> &writableVolumes)
{
    XTWStore &store = XTWStore::shared();
    std::vector<std::string> paths;
    std::set<std::string> collectedDiskKeys;
    for (const URL &volume : writableVolumes) {
        const std::optional<XFSDiskOrDirectory> record = store.detailsForURL(volume, true, true);
        if (!record)
            continue;
        paths.push_back(volume.path());
        collectedDiskKeys.insert(record->builtin() ? record->storageKey() : record->uniqueDiskKey());
    }
    for (const XFSDiskOrDirectory &record : store.userSuppliedDisksOrDirectories()) {
        // The folder as the record resolved it when it was chosen: the clean follows no link on
        // its way, so a link put on the path since never leads it elsewhere.
        const std::string &path = record.resolvedPath();
        // A disk's own record is the volume step's to decide, never a folder's.
        if (record.builtin() || !URL::fileURLWithPath(path).isReachable() || isVolumeRoot(path))
            continue;
        const std::string diskKey = TWKeyForDisk(path);
        if (diskKey != record.uniqueDiskKey() || collectedDiskKeys.contains(diskKey))
            continue;
        paths.push_back(path);
    }
    std::vector<URL> urls;
    urls.reserve(paths.size());
    for (const std::string &path : paths)
        urls.push_back(URL::fileURLWithPath(path));
    return urls;
}
