#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "URL.h"

// The privileged helper that would delete what the user may not. Linux has no blessed
// helpers, and the application installs none: every operation keeps its place but has no
// effect, so a folder the engine could not remove stays where it is.
class TarnwickLaunchdHelper
{
public:
    // A connection to a running helper; none is ever made.
    class Connection
    {
    public:
        virtual ~Connection();
    };
    using ErrorHandler = std::function<void(const std::optional<std::string> &message)>;

    static TarnwickLaunchdHelper &sharedInstance();

    void installIfNeeded();
    void deinstall();
    // Never calls the handler.
    void deleteItems(const std::vector<URL> &items, const ErrorHandler &errorHandler);
    void closeConnectionAfterIdle();
    std::shared_ptr<Connection> activeConnection() const;
    void setActiveConnection(std::shared_ptr<Connection> connection);

private:
    TarnwickLaunchdHelper() = default;

    mutable std::mutex m_mutex;
    std::shared_ptr<Connection> m_activeConnection;
};
