#pragma once

#include "ProgressDisplayFactory.h"

// Gives the engine its runs' progress windows from the pool of open windows.
class ProgressWindowFactory : public ProgressDisplayFactory
{
public:
    bool bringWindowCleaningRootToFront(const URL &rootItemToClean) override;
    std::shared_ptr<XProgressProtocol> makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                      const URL &rootItemToClean) override;
};
