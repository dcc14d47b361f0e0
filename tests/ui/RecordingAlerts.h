#pragma once

#include <cstddef>
#include <vector>

#include "Alert.h"

// Stands in for the alert: keeps every alert shown and answers with its first button.
class RecordingAlerts : public AlertPresenter
{
public:
    std::size_t present(Alert &alert) override;

    std::vector<Alert> alerts;
};
