#include "SelectStartupDisk.h"

#include <QDir>

#include "Alert.h"
#include "Error.h"
#include "LocalizedString.h"
#include "Logger.h"
#include "PreferencesSupport.h"
#include "SecurityScopedBookmark.h"
#include "TWFileManager.h"
#include "UserDefaults.h"

namespace
{
constexpr const char *failureReasonKey = "NSLocalizedFailureReason";

std::string failureReason(const Error &error)
{
    const auto found = error.userInfo().find(failureReasonKey);
    if (found == error.userInfo().end() || !found->second.asString())
        return {};
    return *found->second.asString();
}

std::string panelTitle()
{
    const std::optional<std::string> diskName = TWFileManager::startupDiskDisplayNameIfPossible();
    if (!diskName || diskName->empty())
        return LSFK("Choose your startup disk.");
    std::string title = LSFK("Choose the disk named \"%@\"");
    if (const std::size_t at = title.find("%@"); at != std::string::npos)
        title.replace(at, 2, *diskName);
    return title;
}

// The alert that shows an error: its description, then its failure reason.
Alert alertWithError(const Error &error)
{
    const std::string reason = failureReason(error);
    Alert alert = Alert::alert(error.localizedDescription(), LSFK("OK"), std::nullopt, std::nullopt,
                               reason.empty() ? std::nullopt : std::optional<std::string>(reason));
    alert.setStyle(Alert::Style::warning);
    return alert;
}
}

bool SelectStartupDisk::panelShouldEnableURL(const URL &url)
{
    return panelValidateURL(url, nullptr);
}

bool SelectStartupDisk::panelValidateURL(const URL &url, Error *)
{
    return url.path() == "/";
}

bool SelectStartupDisk::selectStartupDiskAndStoreBookmark()
{
    OpenPanel panel;
    panel.setDelegate(this);
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(false);
    panel.setDirectoryURL(URL::fileURLWithPath(QDir::homePath().toStdString()));
    panel.setPrompt(LSFK("Choose"));
    panel.setTitle(panelTitle());

    if (panel.runModal() != OpenPanel::OKResponse || panel.URLs().empty())
        return false;

    Data bookmark;
    try {
        bookmark = SecurityScopedBookmark::bookmarkData(panel.URLs().front().path(),
                                                        SecurityScopedBookmark::creationWithSecurityScope);
    } catch (const Error &error) {
        LoggerObjc::log(error.localizedDescription());
        if (const std::string reason = failureReason(error); !reason.empty())
            LoggerObjc::log(reason);
        alertWithError(error).runModal();
        return false;
    }
    PreferencesSupport::standardUserDefaults().setObject(Value(std::move(bookmark)), rootBookmarkKey);
    return true;
}
