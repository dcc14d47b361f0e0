#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TallowExport.h"
#include "URL.h"

class Error;
class OpenPanelPresenter;

// Decides which items an open panel lets the user pick.
class TALLOW_EXPORT OpenPanelDelegate
{
public:
    virtual ~OpenPanelDelegate();
    // The item is shown enabled (it can be selected).
    virtual bool panelShouldEnableURL(const URL &url) = 0;
    // The item may be confirmed with the panel's button; may describe why not in error.
    virtual bool panelValidateURL(const URL &url, Error *error) = 0;
};

// A modal panel in which the user chooses files or folders, described as data. runModal()
// hands it to the registered presenter, which shows it and records the chosen URLs.
class TALLOW_EXPORT OpenPanel
{
public:
    static constexpr std::int64_t cancelResponse = 0;
    static constexpr std::int64_t OKResponse = 1;

    bool canChooseDirectories() const { return m_canChooseDirectories; }
    void setCanChooseDirectories(bool can) { m_canChooseDirectories = can; }
    bool canChooseFiles() const { return m_canChooseFiles; }
    void setCanChooseFiles(bool can) { m_canChooseFiles = can; }
    // The file name extensions of the files that can be chosen ("zip"), in any letter case;
    // empty lets every file be chosen. Folders stay choosable whatever it holds.
    const std::vector<std::string> &allowedFileTypes() const { return m_allowedFileTypes; }
    void setAllowedFileTypes(std::vector<std::string> types) { m_allowedFileTypes = std::move(types); }
    // Several items can be chosen at once.
    bool allowsMultipleSelection() const { return m_allowsMultipleSelection; }
    void setAllowsMultipleSelection(bool allows) { m_allowsMultipleSelection = allows; }
    // The folder shown first.
    const std::optional<URL> &directoryURL() const { return m_directoryURL; }
    void setDirectoryURL(const URL &url) { m_directoryURL = url; }
    // The text of the confirming button.
    const std::string &prompt() const { return m_prompt; }
    void setPrompt(const std::string &prompt) { m_prompt = prompt; }
    const std::string &title() const { return m_title; }
    void setTitle(const std::string &title) { m_title = title; }
    // Not owned; must outlive runModal().
    OpenPanelDelegate *delegate() const { return m_delegate; }
    void setDelegate(OpenPanelDelegate *delegate) { m_delegate = delegate; }

    // A file of an allowed type, or a folder, that the delegate enables (true without a delegate).
    bool shouldEnableURL(const URL &url) const;
    // Whether the item may be confirmed: as shouldEnableURL, with the delegate's validation.
    bool validateURL(const URL &url) const;

    // OKResponse with the chosen URLs, or cancelResponse. Without a presenter the panel
    // cannot be shown: cancelResponse, with a line in the system log.
    std::int64_t runModal();
    const std::vector<URL> &URLs() const { return m_URLs; }
    void setURLs(std::vector<URL> urls) { m_URLs = std::move(urls); }

    // The presenter every panel goes through; null removes it.
    static void setPresenter(std::shared_ptr<OpenPanelPresenter> presenter);
    static std::shared_ptr<OpenPanelPresenter> presenter();

private:
    bool hasAllowedFileType(const URL &url) const;

    bool m_canChooseDirectories = false;
    bool m_canChooseFiles = true;
    bool m_allowsMultipleSelection = false;
    std::vector<std::string> m_allowedFileTypes;
    std::optional<URL> m_directoryURL;
    std::string m_prompt;
    std::string m_title;
    OpenPanelDelegate *m_delegate = nullptr;
    std::vector<URL> m_URLs;
};

// Shows an open panel modally; on OK sets the panel's URLs. Tests register their own.
class TALLOW_EXPORT OpenPanelPresenter
{
public:
    virtual ~OpenPanelPresenter();
    virtual std::int64_t present(OpenPanel &panel) = 0;
};
