#include "XEngine.h"

#include <QUrl>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

#include "Alert.h"
#include "ExtendedAttributes.h"
#include "FileDescriptor.h"
#include "GCDAdditions.h"
#include "LocalizedString.h"
#include "OperationQueue.h"
#include "PreferencesSupport.h"
#include "ProgressDisplayFactory.h"
#include "TWFileManager.h"
#include "UserDefaults.h"
#include "VolumeUnmounter.h"
#include "XProgressProtocol.h"
#include "ZipCleaner.h"

namespace
{
constexpr const char *autoCloseWindowKey = "scheduledCleaningAutoCloseWindow";
constexpr const char *suppressXAttrWarningKey = "suppressXAttrWarning";

// The URL as the desktop writes it: "file://", the encoded path, "/" after a folder.
std::string absoluteURLString(const URL &url)
{
    std::string path = url.path();
    struct stat status;
    if (!path.ends_with('/') && lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        path.push_back('/');
    return QUrl::fromLocalFile(QString::fromStdString(path)).toString(QUrl::FullyEncoded).toStdString();
}

bool userAgreesToRemoveAttributes()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    Alert alert = Alert::alert("Attributes will be removed from an item on a APFS, HFS or Linux disk.",
                               "Remove Attributes", std::string("Cancel"), std::nullopt,
                               std::string("Removing attributes from an item on a APFS, HFS or Linux disk may cause "
                                           "dataloss or unpredictable system or application behaviour. Only proceed "
                                           "if you know what you're doing."));
    alert.setStyle(Alert::Style::critical);
    alert.setShowsSuppressionButton(true);
    const std::int64_t answer = alert.runModal();
    if (alert.suppressionButtonChecked())
        defaults.setObject(Value(true), suppressXAttrWarningKey);
    return answer != Alert::firstButtonReturn + 1;
}
}

void XEngine::openProgressDisplay(const URL &first)
{
    const std::shared_ptr<ProgressDisplayFactory> factory = ProgressDisplayFactory::current();
    if (!factory)
        return;
    const std::shared_ptr<XProgressProtocol> window = factory->makeWithParent(shared_from_this(), first);
    if (!window)
        return;
    setProgress(window);
    m_metadataRemover.setOwner(std::weak_ptr<XMetadataRemoverOwner>(shared_from_this()));
    window->progressFeedback(LSFK("Starting..."), true);
    window->setProgressFeedbackIcon(first.path(), true);
}

void XEngine::cleanWithProgressUI(const std::vector<URL> &urls)
{
    if (urls.empty())
        return;
    GCDAdditions::performBlockAfterTinyDelay([engine = shared_from_this(), urls] {
        const std::shared_ptr<ProgressDisplayFactory> factory = ProgressDisplayFactory::current();
        if (factory && factory->bringWindowCleaningRootToFront(urls.front())) {
            // No window will ever close for this engine.
            engine->removeFromActiveEngineList();
            return;
        }
        engine->openProgressDisplay(urls.front());
        engine->runOnEngineQueue([engine, urls] { engine->runItems(urls); });
    });
}

void XEngine::runItems(const std::vector<URL> &urls)
{
    const std::shared_ptr<XProgressProtocol> display = progress();
    for (const URL &url : urls) {
        if (display->userHasCanceled())
            break;
        cleanItemOfRun(url);
    }
    display->flush();
    if (m_unmountAfterClean && !display->userHasCanceled())
        requestUnmount(urls);
    cleaningFinished();
}

// Each item is cleaned as what it is: a folder is walked (whatever its name), a regular file
// whose name ends with "zip" is an archive. Anything else, a link put in place of the item
// since it was named among them, is "Not cleaned" with the reason.
void XEngine::cleanItemOfRun(const URL &url)
{
    struct stat status;
    if (lstat(url.path().c_str(), &status) != 0) {
        reportNotCleaned(url.path(), Error::POSIXerrno(), true);
        return;
    }
    const std::string name = url.lastPathComponent();
    if (S_ISREG(status.st_mode) && name.ends_with("zip")) {
        cleanArchive(url);
        return;
    }
    if (!S_ISDIR(status.st_mode)) {
        reportNotCleaned(url.path(),
                         S_ISLNK(status.st_mode) ? Error::posix(ELOOP)
                                                 : Error::posix(ENOTDIR, LSFK("Not a folder or a zip archive")),
                         true);
        return;
    }
    const std::shared_ptr<XProgressProtocol> display = progress();
    display->logMsg(LSFK("Cleaning ") + name + "...");
    display->setRoot(url);
    if (cleanRecursively(url))
        display->logMsg(LSFK("Completed cleaning ") + name + ".");
}

void XEngine::requestUnmount(const std::vector<URL> &urls)
{
    // One volume after the other, in order; the main thread never waits for an unmount.
    struct InTurn
    {
        static void unmount(std::shared_ptr<XProgressProtocol> display, std::vector<URL> urls, std::size_t index)
        {
            if (index >= urls.size())
                return;
            const std::string path = urls[index].path();
            VolumeUnmounter::unmountAndEjectDeviceAtPathAsync(path, [display, urls, index](bool unmounted) {
                if (!unmounted)
                    display->stdoutMsg("Couldn't unmount " + absoluteURLString(urls[index]));
                unmount(display, urls, index + 1);
            });
        }
    };
    GCDAdditions::onMain([display = progress(), urls] { InTurn::unmount(display, urls, 0); });
}

void XEngine::cleaningFinished()
{
    const std::shared_ptr<XProgressProtocol> display = progress();
    const bool cancelled = display->userHasCanceled();
    // A run that could not reach one of its roots does not end with a success.
    display->progressFeedback(cancelled          ? LSFK("Cleaning stopped.")
                              : m_rootNotCleaned ? *m_rootNotCleaned
                                                 : LSFK("Cleaning completed."),
                              true);
    display->setProgressIndicatorMaxValue(0);
    display->ioIsSlow(false);
    display->finishedCleaning();
    if (m_scheduledClean && PreferencesSupport::standardUserDefaults().boolForKey(autoCloseWindowKey))
        display->closeProgressWindow();
    // A run that got no window keeps its silent progress, and no window will
    // ever close for it: it leaves the active engines now.
    complete();
}

void XEngine::cleanXAttrsWithProgressUI(const std::vector<URL> &urls)
{
    if (urls.empty())
        return;
    if (!PreferencesSupport::standardUserDefaults().boolForKey(suppressXAttrWarningKey)) {
        const bool onPlatformDisk = std::any_of(urls.begin(), urls.end(), [](const URL &url) {
            return TWFileManager::isHFSVolume(url.path());
        });
        if (onPlatformDisk && !userAgreesToRemoveAttributes())
            return;
    }
    GCDAdditions::performBlockAfterTinyDelay([engine = shared_from_this(), urls] {
        engine->m_totalNumberOfDirectoriesEnumerated = 0;
        engine->openProgressDisplay(urls.front());
        engine->runOnEngineQueue([engine, urls] { engine->runAttributes(urls); });
    });
}

void XEngine::runAttributes(const std::vector<URL> &urls)
{
    const std::shared_ptr<XProgressProtocol> display = progress();
    for (const URL &url : urls) {
        if (display->userHasCanceled())
            continue;
        const std::string name = url.lastPathComponent();
        display->logMsg(LSFK("Cleaning ") + name + "...");
        display->setRoot(url);
        if (removeAttributes(url))
            display->logMsg(LSFK("Completed cleaning ") + name + ".");
    }
    display->flush();
    cleaningFinished();
}

// The chosen item is reached as every clean reaches its items: a folder is the root of the
// clean, a file is reached by name in its folder, which is the root.
bool XEngine::removeAttributes(const URL &url)
{
    const std::lock_guard run(m_runMutex);
    struct stat status;
    if (stat(url.path().c_str(), &status) != 0) {
        // Nothing there is nothing to do; there but out of reach is worth a line.
        const Error error = Error::POSIXerrno();
        reportNotCleaned(url.path(), error, true);
        return error.code() == ENOENT;
    }
    const bool isFolder = S_ISDIR(status.st_mode);
    const URL folderURL = isFolder ? url : url.deletingLastPathComponent();
    const TreeScope scope(*this, folderURL);
    if (!scope.isOpen())
        return false;
    const std::optional<ConfinedTree::Folder> folder = openFolderOfTree(folderURL);
    if (!folder)
        return false;
    if (!isFolder) {
        countExamined(1);
        removeAttributesOfItem(folder->fd.get(), url);
        return true;
    }
    countExamined(m_totalNumberOfDirectoriesEnumerated + 1);
    for (const FSItemAndAttrs &entry : m_iterator.contentsOfDirectoryAt(folder->fd.get(), url.path())) {
        if (entry.fullPath && !entry.isDirectory)
            removeAttributesOfItem(folder->fd.get(), URL::fileURLWithPath(*entry.fullPath));
    }
    return true;
}

void XEngine::countExamined(std::int64_t total)
{
    m_totalNumberOfDirectoriesEnumerated = total;
    progress()->setNumberOfItemsExamined(total);
}

// Every attribute of the item, one after the other; the first failure ends the item. The
// item is reached through its open folder, never through a link.
void XEngine::removeAttributesOfItem(int folderFd, const URL &item)
{
    const std::shared_ptr<XProgressProtocol> display = progress();
    const std::string itemName = item.lastPathComponent();
    try {
        for (const std::string &name : ExtendedAttributes::listAt(folderFd, itemName)) {
            ExtendedAttributes::removeAt(folderFd, itemName, name);
            display->logMsg("Removed " + name + " attribute from " + item.lastPathComponent());
            display->incrementNumberOfItemsDeleted();
        }
    } catch (const Error &error) {
        display->deletionMessageForURL(item, error);
    }
}

void XEngine::cleanArchive(const URL &url)
{
    if (m_simulation)
        return;
    const std::shared_ptr<XProgressProtocol> display = progress();
    const std::string name = url.lastPathComponent();
    const std::string starting = "Cleaning Archive " + name + "...";
    display->progressFeedback(starting, true);
    display->setProgressFeedbackIcon(url.path(), false);
    display->logMsg(starting);
    if (name.ends_with("zip")) {
        std::vector<std::string> removed;
        Error error;
        ZipCleaner().cleanZipAtURL(url.path(), &removed, &error);
        if (!error.domain().empty()) {
            // The archive was not rewritten: its entries are all still there.
            display->showError(error.localizedDescription());
            reportNotCleaned(url.path(), error, true);
            return;
        }
        // The archive's lines are worded and handed on together: its name is looked up once.
        display->deletionMessagesForContents(removed, url);
        for (std::size_t counted = 0; counted < removed.size(); ++counted)
            display->incrementNumberOfItemsDeleted();
    }
    const std::string finished = "Cleaned Archive " + name + ".";
    display->progressFeedback(finished, true);
    display->logMsg(finished);
}
