#include "RecordingAlerts.h"

std::size_t RecordingAlerts::present(Alert &alert)
{
    alerts.push_back(alert);
    return 0;
}
