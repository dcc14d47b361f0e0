#include "TarnwickLaunchdHelper.h"

TarnwickLaunchdHelper::Connection::~Connection() = default;

TarnwickLaunchdHelper &TarnwickLaunchdHelper::sharedInstance()
{
    static TarnwickLaunchdHelper *instance = new TarnwickLaunchdHelper;
    return *instance;
}

void TarnwickLaunchdHelper::installIfNeeded()
{
}

void TarnwickLaunchdHelper::deinstall()
{
}

void TarnwickLaunchdHelper::deleteItems(const std::vector<URL> &, const ErrorHandler &)
{
}

void TarnwickLaunchdHelper::closeConnectionAfterIdle()
{
    std::lock_guard lock(m_mutex);
    m_activeConnection.reset();
}

std::shared_ptr<TarnwickLaunchdHelper::Connection> TarnwickLaunchdHelper::activeConnection() const
{
    std::lock_guard lock(m_mutex);
    return m_activeConnection;
}

void TarnwickLaunchdHelper::setActiveConnection(std::shared_ptr<Connection> connection)
{
    std::lock_guard lock(m_mutex);
    m_activeConnection = std::move(connection);
}
