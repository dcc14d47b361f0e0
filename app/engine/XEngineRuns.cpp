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

void XEngine::runOnQueueOfItsOwn(std::function<void()> work)
{
    // The queue is released by its own operation once the work is done.
    auto queue = std::make_shared<OperationQueue>("XEngine run");
    queue->addOperationWithBlock([queue, work = std::move(work)] { work(); });
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

void XEngine::cleanWithProgressUI(const std::vector<URL> &urls, bool cleanArchives)
{
    if (urls.empty())
        return;
    GCDAdditions::performBlockAfterTinyDelay([engine = shared_from_this(), urls, cleanArchives] {
        const std::shared_ptr<ProgressDisplayFactory> factory = ProgressDisplayFactory::current();
        if (factory && factory->bringWindowCleaningRootToFront(urls.front())) {
            // No window will ever close for this engine.
            engine->removeFromActiveEngineList();
            return;
        }
        engine->openProgressDisplay(urls.front());
        engine->runOnQueueOfItsOwn([engine, urls, cleanArchives] { engine->runFolders(urls, cleanArchives); });
    });
}

void XEngine::runFolders(const std::vector<URL> &urls, bool cleanArchives)
{
    const std::shared_ptr<XProgressProtocol> display = progress();
    if (cleanArchives) {
        for (const URL &url : urls) {
            if (display->userHasCanceled())
                break;
            if (url.lastPathComponent().ends_with("zip"))
                cleanArchive(url);
        }
    } else {
        for (const URL &url : urls)
            cleanFolderOfRun(url);
    }
    display->flush();
    if (m_unmountAfterClean && !display->userHasCanceled())
        requestUnmount(urls);
    cleaningFinished();
}

void XEngine::cleanFolderOfRun(const URL &url)
{
    if (!url.value<bool>(URLValues::isDirectoryKey).value_or(false))
        return;
    const std::shared_ptr<XProgressProtocol> display = progress();
    if (display->userHasCanceled())
        return;
    const std::string name = url.lastPathComponent();
    display->logMsg(LSFK("Cleaning ") + name + "...");
    display->setRoot(url);
    cleanRecursively(url);
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
    display->progressFeedback(LSFK(cancelled ? "Cleaning stopped." : "Cleaning completed."), true);
    display->setProgressIndicatorMaxValue(0);
    display->ioIsSlow(false);
    display->finishedCleaning();
    if (m_scheduledClean && PreferencesSupport::standardUserDefaults().boolForKey(autoCloseWindowKey))
        display->closeProgressWindow();
    // A run that got no window keeps its silent progress, and no window will
    // ever close for it: it leaves the active engines now.
    complete();
}

void XEngine::cleanOnThread(const std::vector<std::string> &paths)
{
    for (const std::string &path : paths)
        clean(URL::fileURLWithPath(path), std::nullopt);
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
        engine->runOnQueueOfItsOwn([engine, urls] { engine->runAttributes(urls); });
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
        removeAttributes(url);
        display->logMsg(LSFK("Completed cleaning ") + name + ".");
    }
    display->flush();
    cleaningFinished();
}

void XEngine::removeAttributes(const URL &url)
{
    struct stat status;
    if (lstat(url.path().c_str(), &status) != 0)
        return;
    if (!S_ISDIR(status.st_mode)) {
        countExamined(1);
        const FileDescriptor folder(
            open(url.deletingLastPathComponent().path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder.isValid()) {
            progress()->deletionMessageForURL(url, Error::POSIXerrno());
            return;
        }
        removeAttributesOfItem(folder.get(), url);
        return;
    }
    countExamined(m_totalNumberOfDirectoriesEnumerated + 1);
    const FileDescriptor folder(open(url.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isValid())
        return;
    for (const FSItemAndAttrs &entry : m_iterator.contentsOfDirectoryAt(folder.get(), url.path())) {
        if (entry.fullPath && !entry.isDirectory)
            removeAttributesOfItem(folder.get(), URL::fileURLWithPath(*entry.fullPath));
    }
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
        } else {
            for (const std::string &entryName : removed) {
                display->deletionMessageForContent(entryName, url, std::nullopt);
                display->incrementNumberOfItemsDeleted();
            }
        }
    }
    const std::string finished = "Cleaned Archive " + name + ".";
    display->progressFeedback(finished, true);
    display->logMsg(finished);
}
