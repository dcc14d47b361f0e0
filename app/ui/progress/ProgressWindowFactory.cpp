#include "ProgressWindowFactory.h"

#include "XProgressWindow.h"

bool ProgressWindowFactory::bringWindowCleaningRootToFront(const URL &rootItemToClean)
{
    const std::shared_ptr<XProgressWindow> window = XProgressWindow::isAlreadyCleaning(rootItemToClean);
    if (!window)
        return false;
    window->makeKeyAndOrderFront();
    return true;
}

std::shared_ptr<XProgressProtocol> ProgressWindowFactory::makeWithParent(const std::shared_ptr<XEngineParent> &parent,
                                                                         const URL &rootItemToClean)
{
    return XProgressWindow::makeWithParent(parent, rootItemToClean);
}
