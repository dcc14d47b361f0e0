#include "XProgressNull.h"

#include "Logger.h"
#include "PreferencesSupport.h"
#include "UserDefaults.h"

namespace
{
bool logsDeletions()
{
    return PreferencesSupport::standardUserDefaults().boolForKey("logDeletions");
}
}

void XProgressNull::setRoot(const URL &) {}

void XProgressNull::progressFeedback(const std::string &, bool) {}

void XProgressNull::displayCleaningProgressForFolder(const URL &) {}

void XProgressNull::setProgressFeedbackIcon(const std::string &, bool) {}

bool XProgressNull::userHasCanceled()
{
    return false;
}

void XProgressNull::showError(const std::string &) {}

void XProgressNull::setNumberOfItemsExamined(std::int64_t) {}

void XProgressNull::setProgressIndicatorMaxValue(std::int64_t) {}

void XProgressNull::ioIsSlow(bool) {}

void XProgressNull::setIndeterminate(bool) {}

void XProgressNull::incrementNumberOfItemsDeleted() {}

// A failure (a damaged "._" file kept, a deletion refused) is written to the log whether or not
// deletions are: nothing else would say it happened.
void XProgressNull::deletionMessageForURL(const URL &url, const std::optional<Error> &error)
{
    if (logsDeletions())
        XProgressProtocol::deletionMessageForURL(url, error);
    else if (error)
        Logger::shared().log(deletionMessage(url, error));
}

void XProgressNull::deletionMessageForContent(const std::string &content, const URL &inside,
                                              const std::optional<Error> &error)
{
    if (logsDeletions())
        XProgressProtocol::deletionMessageForContent(content, inside, error);
}

void XProgressNull::flush() {}

void XProgressNull::finishedCleaning() {}

void XProgressNull::closeProgressWindow() {}

bool XProgressNull::deallocAfterCleaningFinished() const
{
    return true;
}
