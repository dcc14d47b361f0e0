#pragma once

#include <memory>

#include "URL.h"

class XEngineParent;
class XProgressProtocol;

// How the engine gets a progress window without knowing the interface: the interface
// registers a factory at start-up (tests register their own). Without one, runs stay silent.
class ProgressDisplayFactory
{
public:
    virtual ~ProgressDisplayFactory();

    // Main thread. Brings the window busy cleaning the root to the front; false when none is.
    virtual bool bringWindowCleaningRootToFront(const URL &rootItemToClean) = 0;
    // Main thread. The display of a new clean, holding its parent weakly; null when none can be had.
    virtual std::shared_ptr<XProgressProtocol> makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                              const URL &rootItemToClean) = 0;

    static std::shared_ptr<ProgressDisplayFactory> current();
    // Null removes the factory.
    static void setCurrent(std::shared_ptr<ProgressDisplayFactory> factory);
};
