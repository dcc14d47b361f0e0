#pragma once

#include <QIcon>

#include <functional>
#include <map>

#include "URL.h"

// The icons of volumes shown in the tray menu's rows, kept for the life of the process.
// An icon not yet known is looked up off the main thread, on a queue of its own per lookup;
// the cache is written and the caller answered on the main thread.
class HDIconCacheController
{
public:
    using Completion = std::function<void(const QIcon &)>;

    static HDIconCacheController &shared();

    // A cached icon is handed over at once; otherwise the completion runs on the main thread
    // once the icon is found, and never when the URL has none.
    void icon(const URL &url, Completion completion);
    // The cached icon, or nothing.
    std::optional<QIcon> cachedIcon(const URL &url) const;

private:
    HDIconCacheController() = default;

    std::map<URL, QIcon> m_cache;
};
