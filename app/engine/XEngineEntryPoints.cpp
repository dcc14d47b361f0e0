#include "XEngine.h"

#include <QString>

#include <sys/stat.h>

#include "Alert.h"
#include "DiscRecordingWatcher.h"
#include "LocalizedString.h"
#include "KeptFolders.h"
#include "ModifierKeys.h"
#include "PhysicalPath.h"
#include "PreferencesSupport.h"
#include "TWVolumeInfo.h"
#include "UserDefaults.h"
#include "XFSDetailsFlagItemKeys.h"
#include "XProgressProtocol.h"
#include "XTWStore.h"

namespace
{
// True once the user has ticked "do not show again" on the AFP note.
constexpr const char *afpNoteSuppressedKey = "AFP_APPLEDOUBLE_WARN";
constexpr const char *alertTitleComment = "alert window title";

void showAlert(const std::string &messageText, const std::string &informativeText, Alert::Style style)
{
    Alert alert = Alert::alert(messageText, LSFK("OK"), std::nullopt, std::nullopt, informativeText);
    alert.setStyle(style);
    alert.runModal();
}

// Stops the request with an alert while a disc is being burnt.
bool refusedWhileBurning()
{
    if (!DiscRecordingWatcher::shared().isBusyBurning())
        return false;
    showAlert(LSFK("Sorry, Tarnwick can't clean right now.", alertTitleComment),
              LSFK("It appears your computer is busy burning a CD or DVD. Please try cleaning the selected item again "
                   "after the burn has completed."),
              Alert::Style::informational);
    return true;
}

// As the file manager asks it: a symbolic link to a folder counts as a folder.
bool isExistingDirectory(const URL &url)
{
    struct stat status;
    return stat(url.path().c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Records match paths whatever the letter case and final slash.
bool isRecordOf(const XFSDiskOrDirectory &record, const URL &url)
{
    return QString::fromStdString(URL::fileURLWithPath(record.path()).path()).toLower()
           == QString::fromStdString(url.path()).toLower();
}

// Every chosen folder ends up governed by a record that is always cleaned. A record that
// governs the folder from further up stays as the user set it: the folder gets its own.
void makeChosenFoldersAlwaysCleaned(const std::vector<URL> &urls)
{
    XTWStore &store = XTWStore::shared();
    for (const URL &url : urls) {
        if (!isExistingDirectory(url))
            continue;
        if (store.detailsForURL(url, true, true))
            continue;
        const std::optional<XFSDiskOrDirectory> record = store.detailsForURL(url, false, false);
        if (record && isRecordOf(*record, url))
            store.update(record->copyWithNewCleanMode(XFSDiskOrDirectory::CleanMode::alwaysClean));
        else
            store.addDetailsForVolumeAtPath(url.path(), XFSDiskOrDirectory::CleanMode::alwaysClean);
    }
}

bool shiftKeyDownNow()
{
    return (ModifierKeys::currentFlags() & ModifierKeys::shiftKeyMask) != 0;
}

// Whoever finishes a silent run takes its engine out of the active engines.
void leaveActiveEnginesWhenSilent(const std::shared_ptr<XEngine> &engine)
{
    if (engine->progress()->deallocAfterCleaningFinished())
        engine->removeFromActiveEngineList();
}

// The user names these items now: a link naming one, or on its way, is followed here, once. The
// run then reaches each by its real path and follows no link, so nothing swapped in meanwhile
// leads it elsewhere. An item the kernel cannot reach stays as named, for the run to report.
std::vector<URL> resolvedAsNamed(const std::vector<URL> &urls)
{
    std::vector<URL> resolved;
    resolved.reserve(urls.size());
    for (const URL &url : urls) {
        const std::optional<std::string> real = physicalPath(url.path());
        resolved.push_back(real ? URL::fileURLWithPath(*real) : url);
    }
    return resolved;
}

bool showsAfpNoteFor(const URL &url)
{
    const std::optional<XFSDiskOrDirectory> record = XTWStore::shared().detailsForURL(url, true, true);
    if (!record)
        return false;
    const std::optional<XFSDetailsFlagItem> netatalk =
        record->findFlag(rawValue(XFSDetailsFlagItemKeys::appledouble_netatalk));
    if (!netatalk || !netatalk->enabled())
        return false;
    TWVolumeInfo info;
    if (CFUGetVolumeInfo(url.path(), &info) != 0 || !info.isAFPServer())
        return false;
    return !PreferencesSupport::standardUserDefaults().boolForKey(afpNoteSuppressedKey);
}
}

// Each entry's engine has the flags of a getter: a user request those of a manual clean, the
// schedule those of a scheduled clean, all volumes those of a background clean.
void XEngine::cleanInResponseToUserRequest(const std::vector<URL> &namedURLs, std::optional<bool> shiftKeyWasDown)
{
    if (refusedWhileBurning())
        return;
    const std::vector<URL> urls = resolvedAsNamed(namedURLs);
    // The folders as they are now: the run cleans these very folders, or says why not.
    std::vector<WatchedRoot> named;
    for (const URL &url : urls) {
        if (std::optional<WatchedRoot> folder = WatchedRoot::at(url.path()))
            named.push_back(std::move(*folder));
    }
    if (warningIfAnyVolumesAreReadOnly(urls))
        return;
    warnIfTryingToDeleteDotAppleDoubleFromAFP(urls);
    makeChosenFoldersAlwaysCleaned(urls);

    const bool shift = shiftKeyWasDown ? *shiftKeyWasDown : shiftKeyDownNow();
    if (shift) {
        const std::shared_ptr<XEngine> engine = newEngineForManualCleaning();
        for (const WatchedRoot &folder : named)
            engine->pinRoot(folder.path, folder.identity);
        engine->cleanXAttrsWithProgressUI(urls);
        leaveActiveEnginesWhenSilent(engine);
        return;
    }

    const std::shared_ptr<XEngine> engine = newEngineForManualCleaning();
    if (urls.empty()) {
        // The engine registered itself when made; a run that never starts must not keep it there.
        engine->removeFromActiveEngineList();
        return;
    }
    for (const WatchedRoot &folder : named)
        engine->pinRoot(folder.path, folder.identity);
    engine->cleanWithProgressUI(urls);
}

void XEngine::cleanScheduled(const std::vector<URL> &urls)
{
    const std::shared_ptr<XEngine> engine = newEngineForScheduledCleaning();
    if (urls.empty()) {
        engine->removeFromActiveEngineList();
        return;
    }
    // A folder the watcher keeps is the folder it watched, not whatever its path names now.
    for (const URL &url : urls) {
        if (const std::optional<FileIdentity> kept = KeptFolders::identityOf(url.path()))
            engine->pinRoot(url.path(), *kept);
    }
    engine->cleanWithProgressUI(urls);
}

// The volumes' roots are cleaned on the engine's queue: a root folder of many thousand items
// must not hold up the main thread.
void XEngine::cleanAllVolumes()
{
    const std::shared_ptr<XEngine> engine = newEngineForBackgroundCleaning();
    engine->runOnEngineQueue([engine] {
        engine->cleanAllVolumesNow();
        leaveActiveEnginesWhenSilent(engine);
    });
}

bool XEngine::warningIfAnyVolumesAreReadOnly(const std::vector<URL> &urls)
{
    std::string list;
    for (const URL &url : urls) {
        if (!url.value<bool>(URLValues::volumeIsReadOnlyKey).value_or(false))
            continue;
        if (!list.empty())
            list += ',';
        list += url.displayName();
    }
    if (list.empty())
        return false;
    showAlert(LSFK("Sorry, Tarnwick can't clean the disk \"" + list + "\" as it is locked or read only.",
                   alertTitleComment),
              LSFK("Please unlock the disk or make the disk writable and try again."), Alert::Style::critical);
    return true;
}

void XEngine::warnIfTryingToDeleteDotAppleDoubleFromAFP(const std::vector<URL> &urls)
{
    for (const URL &url : urls) {
        if (!showsAfpNoteFor(url))
            continue;
        Alert alert = Alert::alert(LSFK("Note: Tarnwick cannot remove '.AppleDouble' folders from the selected disk "
                                        "as it is an AFP share. However other metadata will be removed.",
                                        alertTitleComment),
                                   LSFK("OK"), std::nullopt, std::nullopt,
                                   LSFK("If you wish to remove '.AppleDouble' folders please connect to the disk "
                                        "using SMB try again."));
        alert.setStyle(Alert::Style::informational);
        alert.setShowsSuppressionButton(true);
        alert.runModal();
        if (alert.suppressionButtonChecked())
            PreferencesSupport::standardUserDefaults().setObject(Value(true), afpNoteSuppressedKey);
    }
}
