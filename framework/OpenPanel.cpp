#include "OpenPanel.h"

#include <QString>

#include <algorithm>
#include <mutex>

#include "SystemLog.h"
#include "URLValues.h"

namespace
{
std::mutex presenterMutex;
std::shared_ptr<OpenPanelPresenter> &registeredPresenter()
{
    static std::shared_ptr<OpenPanelPresenter> presenter;
    return presenter;
}
}

OpenPanelDelegate::~OpenPanelDelegate() = default;
OpenPanelPresenter::~OpenPanelPresenter() = default;

bool OpenPanel::hasAllowedFileType(const URL &url) const
{
    if (m_allowedFileTypes.empty() || url.value<bool>(URLValues::isDirectoryKey).value_or(false))
        return true;
    const QString name = QString::fromStdString(url.lastPathComponent());
    return std::any_of(m_allowedFileTypes.begin(), m_allowedFileTypes.end(), [&name](const std::string &type) {
        return name.endsWith(QLatin1Char('.') + QString::fromStdString(type), Qt::CaseInsensitive);
    });
}

bool OpenPanel::shouldEnableURL(const URL &url) const
{
    return hasAllowedFileType(url) && (!m_delegate || m_delegate->panelShouldEnableURL(url));
}

bool OpenPanel::validateURL(const URL &url) const
{
    return hasAllowedFileType(url) && (!m_delegate || m_delegate->panelValidateURL(url, nullptr));
}

std::int64_t OpenPanel::runModal()
{
    m_URLs.clear();
    const std::shared_ptr<OpenPanelPresenter> shower = presenter();
    if (!shower) {
        SystemLog::write("An open panel (\"" + m_title + "\") was asked for, but none can be shown.");
        return cancelResponse;
    }
    const std::int64_t response = shower->present(*this);
    if (response != OKResponse)
        m_URLs.clear();
    return response;
}

void OpenPanel::setPresenter(std::shared_ptr<OpenPanelPresenter> presenter)
{
    std::lock_guard lock(presenterMutex);
    registeredPresenter() = std::move(presenter);
}

std::shared_ptr<OpenPanelPresenter> OpenPanel::presenter()
{
    std::lock_guard lock(presenterMutex);
    return registeredPresenter();
}
